#include "InterfaceHandles.h"

void InterfaceHandles::Open() {
  if (current_ != nullptr) return;
  sessions_.push_back(std::make_unique<Session>());
  current_ = sessions_.back().get();
}

void InterfaceHandles::Close() { current_ = nullptr; }
