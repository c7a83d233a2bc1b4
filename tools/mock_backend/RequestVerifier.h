// Checks one received request against the mock's own request catalogue: parameter names and
// order, the app's key, the "osign" signature, fixed values and the JSON texts inside values;
// and the analytics document's shape. Stateless and thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tools/mock_backend/FormBody.h"
#include "tools/mock_backend/RequestCatalogue.h"

namespace zarnmock {

struct Verdict {
  bool ok = true;
  std::string reason;          // why the request was refused; empty when ok
  std::string signatureText;   // the text the mock signed (holds the app key); empty if not reached
};

// Gives the key configured for an appId, or nullopt for an app the backend does not know.
using AppKeyLookup = std::function<std::optional<std::string>(const std::string& appId)>;

// Checks a decoded form request. The first fault found decides the reason.
Verdict VerifyFormRequest(const FormRequestSpec& spec, const FormParams& params, const AppKeyLookup& keyFor);

// Checks the analytics body: one compact JSON object (members in ascending name order) with
// the envelope members of an event.
Verdict VerifyAnalyticsBody(const std::string& body);

// Empty when the content type is the one the SDK sends for this path, else the reason.
std::string CheckContentType(bool analytics, const std::string& contentType);

}  // namespace zarnmock
