// Every failure text the transport produces. They reach the game inside HttpResp, so they are
// UTF-8; they are written as byte escapes so that every compiler, whatever its source code
// page, stores exactly these bytes. Adjacent literals keep an escape from swallowing a
// following hex digit.
#pragma once

namespace sion::messages {

// 请求方法未定义 (request method not defined)
inline constexpr const char* kMethodUndefined =
    "\xe8\xaf\xb7\xe6\xb1\x82\xe6\x96\xb9\xe6\xb3\x95\xe6\x9c\xaa\xe5\xae\x9a\xe4\xb9\x89";
// url格式不对或者是用了除http(s)外的协议 (bad url, or a protocol other than http(s))
inline constexpr const char* kBadUrl =
    "url\xe6\xa0\xbc\xe5\xbc\x8f\xe4\xb8\x8d\xe5\xaf\xb9\xe6\x88\x96\xe8\x80\x85\xe6\x98\xaf\xe7\x94\xa8"
    "\xe4\xba\x86\xe9\x99\xa4http(s)\xe5\xa4\x96\xe7\x9a\x84\xe5\x8d\x8f\xe8\xae\xae";
// 端口超出范围(1-65535): (port out of range)
inline constexpr const char* kPortOutOfRange =
    "\xe7\xab\xaf\xe5\x8f\xa3\xe8\xb6\x85\xe5\x87\xba\xe8\x8c\x83\xe5\x9b\xb4(1-65535):";
// 地址转换错误 (address conversion error)
inline constexpr const char* kAddressError = "\xe5\x9c\xb0\xe5\x9d\x80\xe8\xbd\xac\xe6\x8d\xa2\xe9\x94\x99\xe8\xaf\xaf";
// 连接失败: (connection failed)
inline constexpr const char* kConnectFailed = "\xe8\xbf\x9e\xe6\x8e\xa5\xe5\xa4\xb1\xe8\xb4\xa5:";
// 错误码： (error code, full-width colon)
inline constexpr const char* kErrorCode = "\xe9\x94\x99\xe8\xaf\xaf\xe7\xa0\x81\xef\xbc\x9a";
// openssl初始化异常 (OpenSSL initialisation failed)
inline constexpr const char* kOpensslInit = "openssl\xe5\x88\x9d\xe5\xa7\x8b\xe5\x8c\x96\xe5\xbc\x82\xe5\xb8\xb8";
// TLS握手失败: (TLS handshake failed)
inline constexpr const char* kTlsHandshake = "TLS\xe6\x8f\xa1\xe6\x89\x8b\xe5\xa4\xb1\xe8\xb4\xa5:";
// 连接被对端关闭 (connection closed by the peer), the handshake reason when no other exists
inline constexpr const char* kPeerClosed = "\xe8\xbf\x9e\xe6\x8e\xa5\xe8\xa2\xab\xe5\xaf\xb9\xe7\xab\xaf\xe5\x85\xb3\xe9\x97\xad";
// 网络异常,Socket错误码： (network error, socket error code)
inline constexpr const char* kSocketError =
    "\xe7\xbd\x91\xe7\xbb\x9c\xe5\xbc\x82\xe5\xb8\xb8,Socket\xe9\x94\x99\xe8\xaf\xaf\xe7\xa0\x81\xef\xbc\x9a";
// 网络超时: (network time-out), followed by the stage and the host
inline constexpr const char* kTimeout = "\xe7\xbd\x91\xe7\xbb\x9c\xe8\xb6\x85\xe6\x97\xb6:";
// 请求已取消 (request cancelled), when the worker pool stops during a request
inline constexpr const char* kCancelled = "\xe8\xaf\xb7\xe6\xb1\x82\xe5\xb7\xb2\xe5\x8f\x96\xe6\xb6\x88";
// 代理服务器错误: (proxy server error), followed by the proxy, then its status or the failure
inline constexpr const char* kProxyFailed = "\xe4\xbb\xa3\xe7\x90\x86\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x99\xa8\xe9\x94\x99\xe8\xaf\xaf:";
// 解析错误 (parse error), followed by a line feed and the bytes received
inline constexpr const char* kParseError = "\xe8\xa7\xa3\xe6\x9e\x90\xe9\x94\x99\xe8\xaf\xaf";
// 响应头超过64KiB上限 (reply head beyond the 64 KiB limit)
inline constexpr const char* kHeadTooLarge =
    "\xe5\x93\x8d\xe5\xba\x94\xe5\xa4\xb4\xe8\xb6\x85\xe8\xbf\x87" "64KiB\xe4\xb8\x8a\xe9\x99\x90";
// 响应体超过16MiB上限 (reply body beyond the 16 MiB limit)
inline constexpr const char* kBodyTooLarge =
    "\xe5\x93\x8d\xe5\xba\x94\xe4\xbd\x93\xe8\xb6\x85\xe8\xbf\x87" "16MiB\xe4\xb8\x8a\xe9\x99\x90";
// chunked解析错误:块数据后缺少CRLF (chunk data not followed by CR LF)
inline constexpr const char* kChunkNoCrlf =
    "chunked\xe8\xa7\xa3\xe6\x9e\x90\xe9\x94\x99\xe8\xaf\xaf:\xe5\x9d\x97\xe6\x95\xb0\xe6\x8d\xae\xe5\x90\x8e"
    "\xe7\xbc\xba\xe5\xb0\x91" "CRLF";
// chunked解析错误:块大小行过长 (chunk size line too long)
inline constexpr const char* kChunkLineTooLong =
    "chunked\xe8\xa7\xa3\xe6\x9e\x90\xe9\x94\x99\xe8\xaf\xaf:\xe5\x9d\x97\xe5\xa4\xa7\xe5\xb0\x8f\xe8\xa1\x8c"
    "\xe8\xbf\x87\xe9\x95\xbf";
// chunked解析错误:尾部字段过长 (trailer section too long)
inline constexpr const char* kChunkTrailerTooLarge =
    "chunked\xe8\xa7\xa3\xe6\x9e\x90\xe9\x94\x99\xe8\xaf\xaf:\xe5\xb0\xbe\xe9\x83\xa8\xe5\xad\x97\xe6\xae\xb5"
    "\xe8\xbf\x87\xe9\x95\xbf";
// chunked解析错误:数据不完整 (chunked data incomplete)
inline constexpr const char* kChunkIncomplete =
    "chunked\xe8\xa7\xa3\xe6\x9e\x90\xe9\x94\x99\xe8\xaf\xaf:\xe6\x95\xb0\xe6\x8d\xae\xe4\xb8\x8d\xe5\xae\x8c"
    "\xe6\x95\xb4";
// The standard library's texts for bad numbers, kept so callers see the same words as before.
inline constexpr const char* kInvalidNumber = "invalid stoi argument";
inline constexpr const char* kNumberOutOfRange = "stoi argument out of range";
// 一个线程池实例只能start一次 (a pool instance can only be started once)
inline constexpr const char* kPoolStartedTwice =
    "\xe4\xb8\x80\xe4\xb8\xaa\xe7\xba\xbf\xe7\xa8\x8b\xe6\xb1\xa0\xe5\xae\x9e\xe4\xbe\x8b\xe5\x8f\xaa\xe8\x83\xbd"
    "start\xe4\xb8\x80\xe6\xac\xa1";
// 未知异常 (unknown exception), for throws of something not derived from std::exception
inline constexpr const char* kUnknownException = "\xe6\x9c\xaa\xe7\x9f\xa5\xe5\xbc\x82\xe5\xb8\xb8";

}  // namespace sion::messages
