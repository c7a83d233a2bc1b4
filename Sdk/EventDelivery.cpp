#include "Sdk/EventDelivery.h"

#include <algorithm>
#include <utility>

#include "Sdk/Encoding.h"
#include "Sdk/ReplyReader.h"
#include "Sdk/RetryPolicy.h"
#include "Sdk/ZarnLog.h"

namespace ZarnSdk {
namespace {

using zarnplatform::MutexLock;

constexpr char kOutboxFile[] = "EventOutbox";
constexpr char kSetAsideFile[] = "EventOutbox.unreadable";
// Room for a full outbox of long documents written by an earlier version of the bounds.
constexpr std::size_t kMaxOutboxFileBytes = 2 * EventDelivery::kMaxKeptBytes;

// At the top the counter stays, as the state file's reader would leave it.
int64_t Plus(int64_t value, int64_t more) { return value > INT64_MAX - more ? INT64_MAX : value + more; }

}  // namespace

EventDelivery::~EventDelivery() { Stop(); }

bool EventDelivery::Start() {
  {
    MutexLock lock(mutex_);
    if (stopping_) return false;
    if (started_) return true;
  }
  // Read on the thread that starts the SDK, which reads the state files anyway.
  const std::optional<reply::Json> config = store_.TryReadConfigJson(false);
  bool outboxUnreadable = false;
  std::vector<std::string> kept = ReadOutbox(outboxUnreadable);
  bool started = false;
  {
    MutexLock lock(mutex_);
    if (stopping_) return false;
    if (config) LearnCounter(reply::IntegerOr<int64_t>(*config, "EventOrder", 0));
    outboxKept_ = !outboxUnreadable;
    for (std::string& document : kept) {
      keptBytes_ += document.size();
      // Numbered and covered by the state file in an earlier run: 0 needs no reservation.
      events_.push_back(Event{++nextSerial_, 0, std::make_shared<const std::string>(std::move(document))});
    }
    wake_ = true;
    // Under the lock: a Stop that finds the delivery started finds its thread counted too.
    started = started_ = thread_.Start("Event delivery", [this] { Run(); });
    if (!started) {
      counterKnown_ = false;
      events_.clear();
      keptBytes_ = 0;
    }
  }
  if (!config) LOG(ERROR) << "EventOrder Unreadable, Events Held Until It Can Be Read.";
  if (outboxUnreadable) LOG(ERROR) << "Event Outbox Unreadable, Left As It Is.";
  if (!kept.empty()) LOG(INFO) << "Event Outbox Read, Events:" << kept.size();
  if (!started) LOG(ERROR) << "Event Delivery Thread Could Not Start.";
  return started;
}

std::optional<int64_t> EventDelivery::NextNumber() {
  MutexLock lock(mutex_);
  if (!started_ || stopping_) return std::nullopt;
  if (!counterKnown_) return -++provisional_;
  lastNumber_ = Plus(lastNumber_, 1);
  return lastNumber_;
}

void EventDelivery::Enqueue(int64_t number, std::string document) {
  MutexLock lock(mutex_);
  if (!started_ || stopping_) return;
  keptBytes_ += document.size();
  if (number < 0 && counterKnown_) renumberDue_ = true;  // numbered while the counter was read
  events_.push_back(Event{++nextSerial_, number, std::make_shared<const std::string>(std::move(document))});
  while (events_.size() > kMaxKeptEvents || keptBytes_ > kMaxKeptBytes) {
    const Event& oldest = events_.front();
    if (oldest.state == State::InFlight) --inFlight_;
    keptBytes_ -= oldest.document->size();
    events_.pop_front();
    ++dropped_;
  }
  outboxDirty_ = true;
  wake_ = true;
  changed_.NotifyAll();
}

void EventDelivery::Stop() {
  bool first = false;
  {
    MutexLock lock(mutex_);
    first = !stopping_;
    stopping_ = true;
    changed_.NotifyAll();
    if (!started_) return;
    if (thread_.OnOwnThread()) {
      // Called on the delivery thread itself, which cannot wait for its own end: it writes the
      // outbox when its pass is over.
      writeAtThreadEnd_ = writeAtThreadEnd_ || first;
      return;
    }
  }
  thread_.WaitAll();
  {
    MutexLock lock(mutex_);
    if (!first || writeAtThreadEnd_) return;
  }
  WriteAtStop();
}

void EventDelivery::WriteAtStop() {
  std::vector<std::shared_ptr<const std::string>> documents;
  std::size_t uncovered = 0;
  bool counterKnown = false;
  bool outboxKept = false;
  int64_t last = 0;
  {
    MutexLock lock(mutex_);
    if (renumberDue_) Renumber();
    counterKnown = counterKnown_;
    outboxKept = outboxKept_;
    last = lastNumber_;
  }
  // Every number handed out is now accounted for: the next start continues right after it. An
  // unknown counter is never overwritten.
  const bool allCovered = counterKnown && WriteEventOrder(last);
  {
    MutexLock lock(mutex_);
    if (allCovered) reserved_ = std::max(reserved_, last);
    documents = Documents();
    uncovered = events_.size() - documents.size();
    events_.clear();
    keptBytes_ = 0;
  }
  if (uncovered != 0) LOG(ERROR) << "Events Not Kept, Numbers Not Reserved:" << uncovered;
  if (outboxKept) WriteOutbox(documents);
  if (outboxKept && !documents.empty()) LOG(INFO) << "Event Outbox Written At Exit, Events:" << documents.size();
}

void EventDelivery::Run() {
  for (;;) {
    const Clock::time_point next = Pass();
    MutexLock lock(mutex_);
    if (stopping_) break;
    changed_.WaitUntil(lock, next, [this] {
      mutex_.AssertHeld();
      return stopping_ || wake_;
    });
    if (stopping_) break;
    wake_ = false;
  }
  bool write = false;
  {
    MutexLock lock(mutex_);
    write = writeAtThreadEnd_;
  }
  if (write) WriteAtStop();
}

void EventDelivery::LearnCounter(int64_t last) {
  counterKnown_ = true;
  stateFailures_ = 0;
  base_ = std::max<int64_t>(0, last);
  reserved_ = base_;
  lastNumber_ = Plus(base_, provisional_);
  renumberDue_ = provisional_ != 0;
}

void EventDelivery::Renumber() {
  renumberDue_ = false;
  for (auto it = events_.begin(); it != events_.end();) {
    if (it->number >= 0) {
      ++it;
      continue;
    }
    // The last member of that name is the document's own: see Enqueue.
    const std::string provisional = "\"eventOrder\":\"n" + std::to_string(it->number) + "\"";
    const std::size_t at = it->document->rfind(provisional);
    if (at == std::string::npos) {
      keptBytes_ -= it->document->size();
      it = events_.erase(it);
      ++dropped_;
      continue;
    }
    it->number = Plus(base_, -it->number);
    std::string document = *it->document;
    document.replace(at, provisional.size(), "\"eventOrder\":\"n" + std::to_string(it->number) + "\"");
    keptBytes_ = keptBytes_ - it->document->size() + document.size();
    it->document = std::make_shared<const std::string>(std::move(document));
    ++it;
  }
}

void EventDelivery::DelayStateAttempt() {
  const auto doubled = timings_.stateRetry * (int64_t{1} << stateFailures_);
  nextStateAttempt_ = Clock::now() + std::min<std::chrono::milliseconds>(timings_.longestStateRetry, doubled);
  stateFailures_ = std::min(stateFailures_ + 1, 20);
}

bool EventDelivery::Covered(const Event& event) const { return event.number >= 0 && event.number <= reserved_; }

void EventDelivery::KeepCounter(Clock::time_point now) {
  bool readCounter = false;
  {
    MutexLock lock(mutex_);
    if (now < nextStateAttempt_) return;
    readCounter = !counterKnown_;
  }
  if (readCounter) {
    const std::optional<reply::Json> config = store_.TryReadConfigJson(false);
    MutexLock lock(mutex_);
    if (!config) {
      DelayStateAttempt();
      return;
    }
    LearnCounter(reply::IntegerOr<int64_t>(*config, "EventOrder", 0));
  }
  // Numbers are reserved half a block ahead of need, so an event rarely waits for the disk.
  int64_t reserveTo = 0;
  {
    MutexLock lock(mutex_);
    if (renumberDue_) Renumber();
    if (Plus(lastNumber_, kReservedBlock / 2) > reserved_) {
      reserveTo = Plus(std::max(lastNumber_, reserved_), kReservedBlock);
    }
  }
  if (reserveTo == 0) return;
  const bool written = WriteEventOrder(reserveTo);
  bool logFailure = false;
  {
    MutexLock lock(mutex_);
    if (written) {
      reserved_ = std::max(reserved_, reserveTo);
      stateFailures_ = 0;
    } else {
      DelayStateAttempt();
      logFailure = !stateFailureLogged_;
      stateFailureLogged_ = true;
    }
  }
  if (logFailure) LOG(ERROR) << "Write EventOrder Failed, Events Held:" << reserveTo;
}

EventDelivery::Clock::time_point EventDelivery::Pass() {
  KeepCounter(Clock::now());

  std::vector<std::pair<uint64_t, std::shared_ptr<const std::string>>> toSend;
  std::vector<std::shared_ptr<const std::string>> outbox;
  bool flush = false;
  uint64_t dropped = 0;
  const Clock::time_point now = Clock::now();
  Clock::time_point next = Clock::time_point::max();
  {
    MutexLock lock(mutex_);
    if (renumberDue_) Renumber();
    for (Event& event : events_) {
      if (event.state == State::InFlight) continue;
      // Nothing leaves the process with a number the state file does not cover yet.
      if (!Covered(event)) {
        next = std::min(next, nextStateAttempt_);
        continue;
      }
      const Clock::time_point start = gate_.NextStart(now, inFlight_);
      if (start > now) {
        next = std::min(next, start);
        break;
      }
      gate_.Started(now);
      event.state = State::InFlight;
      ++inFlight_;
      toSend.emplace_back(event.serial, event.document);
    }
    dropped = std::exchange(dropped_, 0);
    if (outboxDirty_) {
      if (now - lastFlush_ >= timings_.flushInterval) {
        outbox = Documents();
        outboxDirty_ = false;
        lastFlush_ = now;
        flush = outboxKept_;
      } else {
        next = std::min(next, lastFlush_ + timings_.flushInterval);
      }
    }
  }
  if (dropped != 0) LOG(WARNING) << "Event Outbox Full, Oldest Events Dropped:" << dropped;
  if (flush) WriteOutbox(outbox);
  for (const auto& [serial, document] : toSend) Send(serial, *document);
  return next;
}

void EventDelivery::Send(uint64_t serial, const std::string& document) {
  api_.PostTrackData(document, [this, serial](HttpResp reply) { HandleReply(serial, reply); });
}

void EventDelivery::HandleReply(uint64_t serial, const HttpResp& reply) {
  // Any reply but a server failure (or its plea to slow down) is an answer: the server has the
  // event, or never will.
  const bool failed = RetryPolicy::IsTransient(reply);
  bool paused = false;
  bool resumed = false;
  Clock::duration wait{};
  {
    MutexLock lock(mutex_);
    const auto it = Find(serial);
    if (it != events_.end() && it->state == State::InFlight) {
      --inFlight_;
      if (failed) {
        it->state = State::Queued;
      } else {
        keptBytes_ -= it->document->size();
        events_.erase(it);
        outboxDirty_ = true;
      }
    }
    if (failed) {
      const Clock::time_point now = Clock::now();
      if (const auto until = gate_.Failed(now, reply.retryAfter)) {
        paused = true;
        wait = *until - now;
      }
    } else {
      resumed = gate_.Answered();
    }
    wake_ = true;
    changed_.NotifyAll();
  }
  if (paused) {
    LOG(WARNING) << "Event Delivery Paused, Server Failed:" << reply.httpStatus << ", Probe In Ms:"
                 << std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
  }
  if (resumed) LOG(INFO) << "Event Delivery Resumed.";
  if (!failed && reply.httpStatus >= 400) LOG(WARNING) << "Event Refused By Server, Dropped:" << reply.httpStatus;
}

std::deque<EventDelivery::Event>::iterator EventDelivery::Find(uint64_t serial) {
  const auto it = std::lower_bound(events_.begin(), events_.end(), serial,
                                   [](const Event& event, uint64_t wanted) { return event.serial < wanted; });
  return it != events_.end() && it->serial == serial ? it : events_.end();
}

std::vector<std::shared_ptr<const std::string>> EventDelivery::Documents() const {
  std::vector<std::shared_ptr<const std::string>> documents;
  documents.reserve(events_.size());
  for (const Event& event : events_) {
    if (Covered(event)) documents.push_back(event.document);
  }
  return documents;
}

void EventDelivery::WriteOutbox(const std::vector<std::shared_ptr<const std::string>>& documents) {
  reply::Json list = reply::Json::array();
  for (const auto& document : documents) list.push_back(*document);
  store_.WriteAppFile(kOutboxFile, CompactJson(list));
}

std::vector<std::string> EventDelivery::ReadOutbox(bool& unreadable) {
  const std::optional<std::string> text = store_.ReadAppFile(kOutboxFile, kMaxOutboxFileBytes, &unreadable);
  if (!text) return {};
  std::vector<std::string> documents;
  const std::optional<reply::Json> list = reply::Parse(*text);
  bool readable = list && list->is_array();
  if (readable) {
    for (const reply::Json& document : *list) {
      if (!document.is_string()) {
        readable = false;
        break;
      }
      documents.push_back(document.get<std::string>());
    }
  }
  if (readable) return documents;
  // Kept for a look, and out of the way of the next start-up.
  LOG(ERROR) << "Event Outbox Unreadable, Set Aside As " << kSetAsideFile;
  store_.WriteAppFile(kSetAsideFile, *text);
  store_.WriteAppFile(kOutboxFile, "[]");
  return {};
}

bool EventDelivery::WriteEventOrder(int64_t value) {
  bool written = false;
  store_.UpdateConfigJson(
      false,
      [value](reply::Json& config) {
        config["EventOrder"] = value;
        return true;
      },
      &written);
  return written;
}

}  // namespace ZarnSdk
