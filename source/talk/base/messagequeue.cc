#include "talk/base/messagequeue.h"

#include <algorithm>

#include "talk/base/dispatchtracker.h"
#include "talk/base/logging.h"
#include "talk/base/physicalsocketserver.h"
#include "talk/base/timeutils.h"

namespace talk_base {

namespace {

// Guards the registry pointer and the registry. Never destroyed: handlers
// may be destroyed during static destruction, on any thread.
std::recursive_mutex& RegistryLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

MessageQueueManager* g_registry = nullptr;  // guarded by RegistryLock()

}  // namespace

// MessageQueueManager

MessageQueueManager* MessageQueueManager::Instance() {
  if (!g_registry) g_registry = new MessageQueueManager;
  return g_registry;
}

void MessageQueueManager::Add(MessageQueue* queue) {
  std::lock_guard<std::recursive_mutex> lock(RegistryLock());
  if (queue->fActive_.load()) return;
  Instance()->queues_.push_back(queue);
  queue->fActive_.store(true);
}

void MessageQueueManager::Remove(MessageQueue* queue) {
  std::lock_guard<std::recursive_mutex> lock(RegistryLock());
  if (!queue->fActive_.load() || !g_registry) return;
  std::vector<MessageQueue*>& queues = g_registry->queues_;
  queues.erase(std::remove(queues.begin(), queues.end(), queue), queues.end());
  queue->fActive_.store(false);
  if (queues.empty()) {
    delete g_registry;
    g_registry = nullptr;
  }
}

void MessageQueueManager::Clear(MessageHandler* handler) {
  // By index, re-reading the registry: deleting a message's data may
  // destroy further handlers or even queues.
  {
    std::lock_guard<std::recursive_mutex> lock(RegistryLock());
    for (size_t i = 0; g_registry && i < g_registry->queues_.size(); ++i) {
      g_registry->queues_[i]->Clear(handler, MQID_ANY, nullptr);
    }
  }
  // Messages already taken from a queue, and calls already running
  // elsewhere; waited for outside the registry lock, which a running
  // handler may need.
  DispatchTracker::HandlerDestroyed(handler);
}

// MessageQueue

MessageQueue::MessageQueue(SocketServer* ss)
    : ss_(ss),
      default_ss_(nullptr),
      fStop_(false),
      fPeekKeep_(false),
      fActive_(false),
      dmsgq_next_num_(0) {
  if (!ss_) {
    default_ss_ = new PhysicalSocketServer;
    ss_ = default_ss_;
  }
  ss_->SetMessageQueue(this);
}

MessageQueue::~MessageQueue() {
  SignalQueueDestroyed();
  fStop_.store(true);  // refuse posts from here on
  MessageQueueManager::Remove(this);
  Clear(nullptr);
  ss_->SetMessageQueue(nullptr);
  delete default_ss_;
  DispatchTracker::QueueDestroyed(this);
}

void MessageQueue::SetSocketServer(SocketServer* ss) {
  if (!ss) {
    if (!default_ss_) return;
    ss = default_ss_;
  }
  ss_ = ss;
  ss_->SetMessageQueue(this);
}

void MessageQueue::Quit() {
  fStop_.store(true);
  // A Get waiting without a limit would otherwise never see the flag.
  ss_->WakeUp();
}

bool MessageQueue::IsQuitting() { return fStop_.load(); }

void MessageQueue::Restart() { fStop_.store(false); }

void MessageQueue::EnsureActive() {
  // Registers before any queue lock is taken: the registry's lock always
  // comes first.
  if (!fActive_.load()) MessageQueueManager::Add(this);
}

void MessageQueue::DeleteData(MessageList* messages) {
  for (Message& msg : *messages) {
    delete msg.pdata;
    msg.pdata = nullptr;
  }
  messages->clear();
}

bool MessageQueue::Peek(Message* pmsg, int cmsWait) {
  {
    std::lock_guard<std::recursive_mutex> lock(crit_);
    if (fPeekKeep_) {
      *pmsg = msgPeek_;
      return true;
    }
  }
  if (!Get(pmsg, cmsWait)) return false;
  std::lock_guard<std::recursive_mutex> lock(crit_);
  msgPeek_ = *pmsg;
  fPeekKeep_ = true;
  return true;
}

bool MessageQueue::Get(Message* pmsg, int cmsWait, bool process_io) {
  {
    std::lock_guard<std::recursive_mutex> lock(crit_);
    if (fPeekKeep_) {
      *pmsg = msgPeek_;
      fPeekKeep_ = false;
      DispatchTracker::Taken(this, *pmsg);
      return true;
    }
  }

  const uint32_t msStart = Time();
  uint32_t msCurrent = msStart;
  int cmsElapsed = 0;
  while (true) {
    ReceiveSends();

    int cmsDelayNext = kForever;
    bool found = false;
    MessageList disposed;
    {
      std::lock_guard<std::recursive_mutex> lock(crit_);
      while (!dmsgq_.empty()) {
        const DelayedMessage& top = dmsgq_.front();
        if (TimeIsLater(msCurrent, top.msTrigger_)) {
          cmsDelayNext = TimeDiff(top.msTrigger_, msCurrent);
          break;
        }
        msgq_.push_back(top.msg_);
        std::pop_heap(dmsgq_.begin(), dmsgq_.end());
        dmsgq_.pop_back();
      }
      while (!msgq_.empty()) {
        *pmsg = msgq_.front();
        msgq_.pop_front();
        if (pmsg->ts_sensitive && TimeIsLater(pmsg->ts_sensitive, msCurrent)) {
          LOG(LS_WARNING) << "Get" << ": " << "id: " << pmsg->message_id
                          << "  delay: "
                          << TimeDiff(msCurrent, pmsg->ts_sensitive) + kMaxMsgLatency
                          << "ms";
        }
        if (pmsg->message_id == MQID_DISPOSE) {
          disposed.push_back(*pmsg);
          continue;
        }
        found = true;
        DispatchTracker::Taken(this, *pmsg);
        break;
      }
    }
    // Outside the lock: a payload's destructor may reach other queues.
    DeleteData(&disposed);
    if (found) return true;

    if (fStop_.load()) return false;

    int cmsNext;
    if (cmsWait == kForever) {
      cmsNext = cmsDelayNext;
    } else {
      cmsNext = std::max(0, cmsWait - cmsElapsed);
      if (cmsDelayNext != kForever && cmsDelayNext < cmsNext) {
        cmsNext = cmsDelayNext;
      }
    }

    if (!ss_->Wait(cmsNext, process_io)) return false;

    msCurrent = Time();
    cmsElapsed = TimeDiff(msCurrent, msStart);
    if (cmsWait != kForever && cmsElapsed >= cmsWait) return false;
  }
}

void MessageQueue::ReceiveSends() {}

void MessageQueue::Post(MessageHandler* phandler, uint32_t id,
                        MessageData* pdata, bool time_sensitive) {
  if (fStop_.load()) {
    // Nobody would ever receive it.
    delete pdata;
    return;
  }
  EnsureActive();
  Message msg(phandler, id, pdata);
  if (time_sensitive) msg.ts_sensitive = Time() + kMaxMsgLatency;
  std::lock_guard<std::recursive_mutex> lock(crit_);
  msgq_.push_back(msg);
  ss_->WakeUp();
}

void MessageQueue::PostDelayed(int cmsDelay, MessageHandler* phandler,
                               uint32_t id, MessageData* pdata) {
  DoDelayPost(TimeAfter(cmsDelay), phandler, id, pdata);
}

void MessageQueue::PostAt(uint32_t tstamp, MessageHandler* phandler,
                          uint32_t id, MessageData* pdata) {
  DoDelayPost(tstamp, phandler, id, pdata);
}

void MessageQueue::DoDelayPost(uint32_t tstamp, MessageHandler* phandler,
                               uint32_t id, MessageData* pdata) {
  if (fStop_.load()) {
    delete pdata;
    return;
  }
  EnsureActive();
  std::lock_guard<std::recursive_mutex> lock(crit_);
  dmsgq_.push_back(
      DelayedMessage(tstamp, dmsgq_next_num_, Message(phandler, id, pdata)));
  std::push_heap(dmsgq_.begin(), dmsgq_.end());
  ++dmsgq_next_num_;
  ss_->WakeUp();
}

int MessageQueue::GetDelay() {
  std::lock_guard<std::recursive_mutex> lock(crit_);
  if (!msgq_.empty()) return 0;
  if (!dmsgq_.empty()) {
    return std::max(0, static_cast<int>(
                           TimeDiff(dmsgq_.front().msTrigger_, Time())));
  }
  return kForever;
}

void MessageQueue::ClearLocked(MessageHandler* phandler, uint32_t id,
                               MessageList* removed) {
  if (fPeekKeep_ && Matches(msgPeek_, phandler, id)) {
    removed->push_back(msgPeek_);
    fPeekKeep_ = false;
  }
  for (auto it = msgq_.begin(); it != msgq_.end();) {
    if (Matches(*it, phandler, id)) {
      removed->push_back(*it);
      it = msgq_.erase(it);
    } else {
      ++it;
    }
  }
  auto keep = dmsgq_.begin();
  for (auto it = dmsgq_.begin(); it != dmsgq_.end(); ++it) {
    if (Matches(it->msg_, phandler, id)) {
      removed->push_back(it->msg_);
    } else {
      *keep++ = *it;
    }
  }
  dmsgq_.erase(keep, dmsgq_.end());
  std::make_heap(dmsgq_.begin(), dmsgq_.end());
}

void MessageQueue::Clear(MessageHandler* phandler, uint32_t id,
                         MessageList* removed) {
  MessageList local;
  {
    std::lock_guard<std::recursive_mutex> lock(crit_);
    ClearLocked(phandler, id, &local);
  }
  if (removed) {
    removed->splice(removed->end(), local);
  } else {
    DeleteData(&local);  // outside the lock, as in Get
  }
}

void MessageQueue::Dispatch(Message* pmsg) {
  DispatchTracker::Deliver(this, pmsg);
}

}  // namespace talk_base
