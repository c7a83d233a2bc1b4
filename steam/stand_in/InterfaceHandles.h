// The opaque "SteamUser023" and "SteamUtils010" pointers of one Steam session.
#pragma once

#include <memory>
#include <vector>

// The game receives the pointers from SteamInternal_FindOrCreateUserInterface and hands them
// back as `self` of the flat methods; the stand-in never dereferences them, it only checks that
// they belong to the current session. Each session gets fresh addresses, and those of ended
// sessions stay allocated (two bytes each), so a pointer kept across SteamAPI_Shutdown never
// matches a later session by accident.
//
// Not thread-safe: the owner (SteamClientSim) guards it with its mutex.
class InterfaceHandles {
 public:
  void Open();
  void Close();
  bool IsOpen() const { return current_ != nullptr; }

  void* User() const { return current_ ? &current_->user : nullptr; }
  void* Utils() const { return current_ ? &current_->utils : nullptr; }
  bool IsUser(const void* self) const { return self != nullptr && self == User(); }
  bool IsUtils(const void* self) const { return self != nullptr && self == Utils(); }

 private:
  struct Session {
    char user = 0;
    char utils = 0;
  };
  Session* current_ = nullptr;
  std::vector<std::unique_ptr<Session>> sessions_;
};
