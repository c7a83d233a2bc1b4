// MD5 of a byte text as 32 lower-case hex digits, the form of the request signature "osign".
#pragma once

#include <string>

namespace zarnmock {

// Throws std::runtime_error only when OpenSSL cannot provide the digest at all.
std::string Md5Hex(const std::string& bytes);

}  // namespace zarnmock
