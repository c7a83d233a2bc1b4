#include "transport/ProxyConfig.h"

#include <openssl/evp.h>

#include <algorithm>

#include "platform/SystemProxy.h"
#include "transport/TextUtil.h"

namespace sion {
namespace {

// Pieces of `text` between any of `separators`, blanks around them dropped, empty ones skipped.
std::vector<std::string> Pieces(const std::string& text, const std::string& separators) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(separators, at), text.size());
    std::string piece = Trim(text.substr(at, end - at), " \t\r\n");
    if (!piece.empty() && piece.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(std::move(piece));
    at = end + 1;
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%40" as '@': user names and passwords in a URL are written so. A '%' not followed by two hex
// digits stays as it is.
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(std::max(length, 0)));
  return out;
}

bool GlobMatches(const std::string& pattern, const std::string& text) {
  std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsAddressLiteral(const std::string& text) {
  return text.find(':') != std::string::npos || text.find_first_not_of("0123456789.") == std::string::npos;
}

// The system's per-scheme list: the "https=" entry, else one for every scheme.
std::optional<std::string> SystemProxyForHttps(const std::string& setting) {
  std::optional<std::string> any;
  for (const std::string& entry : Pieces(setting, "; \t")) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (!any) any = entry;
    } else if (AsciiLower(entry.substr(0, equals)) == "https") {
      return entry.substr(equals + 1);
    }
  }
  return any;
}

}  // namespace

std::optional<ProxyEndpoint> ParseProxyUrl(const std::string& url) {
  std::string rest = Trim(url, " \t\r\n");
  if (const std::size_t scheme = rest.find("://"); scheme != std::string::npos) {
    if (AsciiLower(rest.substr(0, scheme)) != "http") return std::nullopt;
    rest = rest.substr(scheme + 3);
  }
  rest = rest.substr(0, rest.find_first_of("/?#"));
  ProxyEndpoint proxy;
  if (const std::size_t at = rest.rfind('@'); at != std::string::npos) {
    const std::string userInfo = rest.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    const std::string user = PercentDecoded(userInfo.substr(0, colon));
    const std::string password = colon == std::string::npos ? "" : PercentDecoded(userInfo.substr(colon + 1));
    proxy.authorization = "Basic " + Base64(user + ":" + password);
    rest = rest.substr(at + 1);
  }
  std::string portText;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) return std::nullopt;
    proxy.host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return std::nullopt;
      portText = rest.substr(close + 2);
    }
  } else {
    const std::size_t colon = rest.find(':');
    proxy.host = rest.substr(0, colon);
    if (colon != std::string::npos) portText = rest.substr(colon + 1);
  }
  if (proxy.host.empty() || proxy.host.find_first_of(" \t\r\n") != std::string::npos) return std::nullopt;
  if (!portText.empty()) {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    proxy.port = std::stoi(portText);
    if (proxy.port < 1 || proxy.port > 65535) return std::nullopt;
  }
  return proxy;
}

ProxyConfig::ProxyConfig(const ProxySources& sources) {
  if (sources.proxyUrl) {
    proxy_ = ParseProxyUrl(*sources.proxyUrl);
    for (std::string entry : Pieces(sources.noProxy.value_or(""), ", \t")) {
      entry = AsciiLower(entry);
      if (entry == "*") {
        bypass_.push_back({Bypass::Kind::All, ""});
        continue;
      }
      if (entry.front() == '[') entry = entry.substr(1, entry.find(']') - 1);
      // "host:port": the port is not told apart; an address with colons is IPv6.
      if (std::count(entry.begin(), entry.end(), ':') == 1) entry.erase(entry.find(':'));
      if (entry.rfind("*.", 0) == 0) entry.erase(0, 1);
      if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
      if (entry.empty()) continue;
      bypass_.push_back({IsAddressLiteral(entry) ? Bypass::Kind::Glob : Bypass::Kind::Suffix, entry});
    }
  } else if (sources.systemProxy) {
    if (const auto chosen = SystemProxyForHttps(*sources.systemProxy)) proxy_ = ParseProxyUrl(*chosen);
    for (const std::string& entry : Pieces(sources.systemBypass.value_or(""), "; \t")) {
      const std::string lower = AsciiLower(entry);
      bypass_.push_back({lower == "<local>" ? Bypass::Kind::Local : Bypass::Kind::Glob, lower});
    }
  }
}

bool ProxyConfig::Bypassed(const std::string& host) const {
  std::string name = AsciiLower(host);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return std::any_of(bypass_.begin(), bypass_.end(), [&name](const Bypass& rule) {
    switch (rule.kind) {
      case Bypass::Kind::All: return true;
      case Bypass::Kind::Local: return name.find_first_of(".:") == std::string::npos;
      case Bypass::Kind::Glob: return GlobMatches(rule.pattern, name);
      case Bypass::Kind::Suffix:
        return name == rule.pattern ||
               (name.size() > rule.pattern.size() && name.ends_with(rule.pattern) &&
                name[name.size() - rule.pattern.size() - 1] == '.');
    }
    return false;
  });
}

std::optional<ProxyEndpoint> ProxyConfig::For(const std::string& protocol, const std::string& host) const {
  if (!proxy_ || protocol != "https" || Bypassed(host)) return std::nullopt;
  return proxy_;
}

ProxySources ProxyConfig::ReadSources(const std::function<std::optional<std::string>(const char*)>& variable) {
  ProxySources sources;
  for (const char* name : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) {
    if ((sources.proxyUrl = variable(name))) break;
  }
  if (!(sources.noProxy = variable("NO_PROXY"))) sources.noProxy = variable("no_proxy");
  if (!sources.proxyUrl) {
    if (const auto system = zarnplatform::UserSystemProxy()) {
      sources.systemProxy = system->proxy;
      sources.systemBypass = system->bypass;
    }
  }
  return sources;
}

}  // namespace sion
