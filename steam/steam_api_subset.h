// The part of the public Steamworks API that the SDK uses, declared with Valve's own names and
// layouts, so that the SDK links unchanged against either the real steam_api64 or our stand-in
// (steam/stand_in). Nothing else in the tree declares a Steamworks name.
//
// Interfaces are reached through the flat accessors that steam_api64 exports
// (SteamAPI_ISteamUser_*, SteamAPI_ISteamUtils_*), which keeps us independent of the virtual
// table layout of ISteamUser / ISteamUtils.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#  define ZARN_STEAM_API extern "C" __declspec(dllimport)
#  if defined(ZARN_STEAM_STAND_IN_BUILDING)
#    undef ZARN_STEAM_API
#    define ZARN_STEAM_API extern "C" __declspec(dllexport)
#  endif
#else
#  define ZARN_STEAM_API extern "C" __attribute__((visibility("default")))
#endif

typedef uint32_t HAuthTicket;
typedef int32_t HSteamUser;
typedef int32_t HSteamPipe;
typedef uint64_t SteamAPICall_t;
typedef uint32_t AppId_t;

enum EResult : int32_t { k_EResultOK = 1, k_EResultFail = 2 };

enum ESteamAPIInitResult : int32_t {
  k_ESteamAPIInitResult_OK = 0,
  k_ESteamAPIInitResult_FailedGeneric = 1,
  k_ESteamAPIInitResult_NoSteamClient = 2,
  k_ESteamAPIInitResult_VersionMismatch = 3,
};

typedef char SteamErrMsg[1024];

class ISteamUser;
class ISteamUtils;
struct SteamNetworkingIdentity;

// Callback structures. Valve packs them to 8 bytes on Windows and 4 elsewhere.
#if defined(_WIN32)
#  pragma pack(push, 8)
#else
#  pragma pack(push, 4)
#endif
struct GetAuthSessionTicketResponse_t {
  enum { k_iCallback = 163 };  // k_iSteamUserCallbacks (100) + 63
  HAuthTicket m_hAuthTicket;
  EResult m_eResult;
};

struct MicroTxnAuthorizationResponse_t {
  enum { k_iCallback = 152 };  // k_iSteamUserCallbacks (100) + 52
  uint32_t m_unAppID;
  uint64_t m_ulOrderID;
  uint8_t m_bAuthorized;
};
#pragma pack(pop)

// Base of every callback object, as in Valve's steam_api_common.h.
class CCallbackBase {
 public:
  CCallbackBase() : m_nCallbackFlags(0), m_iCallback(0) {}
  virtual void Run(void* pvParam) = 0;
  virtual void Run(void* pvParam, bool bIOFailure, SteamAPICall_t hSteamAPICall) = 0;
  int GetICallback() { return m_iCallback; }
  virtual int GetCallbackSizeBytes() = 0;

 protected:
  enum { k_ECallbackFlagsRegistered = 0x01, k_ECallbackFlagsGameServer = 0x02 };
  uint8_t m_nCallbackFlags;
  int m_iCallback;
  friend class CCallbackMgr;  // the stand-in's registry sets and clears the registered flag
};

ZARN_STEAM_API ESteamAPIInitResult SteamInternal_SteamAPI_Init(const char* pszInternalCheckInterfaceVersions,
                                                               SteamErrMsg* pOutErrMsg);
ZARN_STEAM_API void SteamAPI_Shutdown();
ZARN_STEAM_API void SteamAPI_RunCallbacks();
ZARN_STEAM_API void SteamAPI_RegisterCallback(CCallbackBase* pCallback, int iCallback);
ZARN_STEAM_API void SteamAPI_UnregisterCallback(CCallbackBase* pCallback);
ZARN_STEAM_API HSteamUser SteamAPI_GetHSteamUser();
ZARN_STEAM_API void* SteamInternal_FindOrCreateUserInterface(HSteamUser hSteamUser, const char* pszVersion);
ZARN_STEAM_API void* SteamInternal_ContextInit(void* pContextInitData);

// Flat interface methods (steam_api_flat.h).
ZARN_STEAM_API uint64_t SteamAPI_ISteamUser_GetSteamID(ISteamUser* self);
ZARN_STEAM_API HAuthTicket SteamAPI_ISteamUser_GetAuthSessionTicket(ISteamUser* self, void* pTicket, int cbMaxTicket,
                                                                    uint32_t* pcbTicket,
                                                                    const SteamNetworkingIdentity* pSteamNetworkingIdentity);
ZARN_STEAM_API uint32_t SteamAPI_ISteamUtils_GetAppID(ISteamUtils* self);
ZARN_STEAM_API bool SteamAPI_ISteamUtils_IsOverlayEnabled(ISteamUtils* self);

#define STEAMUSER_INTERFACE_VERSION "SteamUser023"
#define STEAMUTILS_INTERFACE_VERSION "SteamUtils010"

// The interface versions of the Steamworks release that brought SteamUser023, in the headers'
// order, each followed by a NUL.
#define STEAMWORKS_CLIENT_INTERFACE_VERSIONS          \
  STEAMUTILS_INTERFACE_VERSION "\0"                   \
  "SteamNetworkingUtils004\0"                         \
  "STEAMAPPS_INTERFACE_VERSION008\0"                  \
  "SteamController008\0"                              \
  "SteamFriends017\0"                                 \
  "SteamMatchGameSearch001\0"                         \
  "STEAMHTMLSURFACE_INTERFACE_VERSION_005\0"          \
  "STEAMHTTP_INTERFACE_VERSION003\0"                  \
  "SteamInput006\0"                                   \
  "STEAMINVENTORY_INTERFACE_V003\0"                   \
  "SteamMatchMakingServers002\0"                      \
  "SteamMatchMaking009\0"                             \
  "STEAMMUSICREMOTE_INTERFACE_VERSION001\0"           \
  "STEAMMUSIC_INTERFACE_VERSION001\0"                 \
  "SteamNetworkingMessages002\0"                      \
  "SteamNetworkingSockets012\0"                       \
  "SteamNetworking006\0"                              \
  "STEAMPARENTALSETTINGS_INTERFACE_VERSION001\0"      \
  "SteamParties002\0"                                 \
  "STEAMREMOTEPLAY_INTERFACE_VERSION002\0"            \
  "STEAMREMOTESTORAGE_INTERFACE_VERSION016\0"         \
  "STEAMSCREENSHOTS_INTERFACE_VERSION003\0"           \
  "STEAMTIMELINE_INTERFACE_V001\0"                    \
  "STEAMUGC_INTERFACE_VERSION018\0"                   \
  "STEAMUSERSTATS_INTERFACE_VERSION012\0"             \
  STEAMUSER_INTERFACE_VERSION "\0"                    \
  "STEAMVIDEO_INTERFACE_V002\0"                       \
  "\0"

// The headers' inline start-up: true when Steam runs for this game.
inline bool SteamAPI_Init() {
  return SteamInternal_SteamAPI_Init(STEAMWORKS_CLIENT_INTERFACE_VERSIONS, nullptr) == k_ESteamAPIInitResult_OK;
}

inline ISteamUser* SteamUser() {
  return static_cast<ISteamUser*>(SteamInternal_FindOrCreateUserInterface(SteamAPI_GetHSteamUser(),
                                                                          STEAMUSER_INTERFACE_VERSION));
}

inline ISteamUtils* SteamUtils() {
  return static_cast<ISteamUtils*>(SteamInternal_FindOrCreateUserInterface(SteamAPI_GetHSteamUser(),
                                                                           STEAMUTILS_INTERFACE_VERSION));
}

// Member-function callback object, as Valve's CCallback<> (registration at construction).
template <class T, class P>
class CCallback final : public CCallbackBase {
 public:
  typedef void (T::*func_t)(P*);
  CCallback(T* pObj, func_t func) : m_pObj(pObj), m_Func(func) {
    m_iCallback = P::k_iCallback;
    SteamAPI_RegisterCallback(this, P::k_iCallback);
  }
  ~CCallback() {
    if (m_nCallbackFlags & k_ECallbackFlagsRegistered) SteamAPI_UnregisterCallback(this);
  }
  CCallback(const CCallback&) = delete;
  CCallback& operator=(const CCallback&) = delete;

  void Run(void* pvParam) override { (m_pObj->*m_Func)(static_cast<P*>(pvParam)); }
  void Run(void* pvParam, bool, SteamAPICall_t) override { (m_pObj->*m_Func)(static_cast<P*>(pvParam)); }
  int GetCallbackSizeBytes() override { return sizeof(P); }

 private:
  T* m_pObj;
  func_t m_Func;
};
