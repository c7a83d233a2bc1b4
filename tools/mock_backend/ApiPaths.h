// The request paths the mock backend serves, as the SDK's server exposes them.
#pragma once

namespace zarnmock::paths {

inline constexpr char kApiBase[] = "/sdkapi";
inline constexpr char kLogin[] = "/sdkapi/v22/init.do";
inline constexpr char kClientConfig[] = "/sdkapi/v3/config/client.do";
inline constexpr char kAttribution[] = "/sdkapi/v1/attribution.do";
inline constexpr char kProducts[] = "/sdkapi/v10/pay/products.do";
inline constexpr char kCreateOrder[] = "/sdkapi/v10/pay/create_order.do";
inline constexpr char kPayResult[] = "/sdkapi/v10/pay/pay_result.do";
// Analytics lives directly on the host, outside the API base path.
inline constexpr char kAnalytics[] = "/data/h5/v1.do";

// The mock's own: a POST here begins the analytics outage the backend was configured with.
inline constexpr char kEventsOutage[] = "/mock/events-outage";

}  // namespace zarnmock::paths
