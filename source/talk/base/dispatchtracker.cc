#include "talk/base/dispatchtracker.h"

#include <pthread.h>

#include <condition_variable>
#include <list>
#include <mutex>

namespace talk_base {

namespace {

struct Entry {
  const void* queue;
  pthread_t thread;
  Message msg;
  bool running;    // inside OnMessage
  bool cancelled;  // the handler is gone
};

struct Registry {
  std::mutex mutex;
  std::condition_variable delivered;
  std::list<Entry> entries;
};

// Never destroyed: handlers may be destroyed during static destruction.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

bool SameMessage(const Message& a, const Message& b) {
  return a.phandler == b.phandler && a.message_id == b.message_id &&
         a.pdata == b.pdata;
}

}  // namespace

void DispatchTracker::Taken(const void* queue, const Message& msg) {
  Registry& r = TheRegistry();
  const pthread_t self = pthread_self();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto it = r.entries.begin(); it != r.entries.end();) {
    if (!it->running && it->queue == queue &&
        pthread_equal(it->thread, self)) {
      it = r.entries.erase(it);
    } else {
      ++it;
    }
  }
  r.entries.push_back(Entry{queue, self, msg, false, false});
}

bool DispatchTracker::Deliver(const void* queue, Message* msg) {
  Registry& r = TheRegistry();
  const pthread_t self = pthread_self();
  std::list<Entry>::iterator entry;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    entry = r.entries.end();
    for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
      if (!it->running && it->queue == queue &&
          pthread_equal(it->thread, self) && SameMessage(it->msg, *msg)) {
        entry = it;
        break;
      }
    }
    if (entry != r.entries.end() && entry->cancelled) {
      r.entries.erase(entry);
      entry = r.entries.end();
    } else {
      if (entry == r.entries.end()) {
        // A message that was not taken here: still tracked while it runs.
        entry = r.entries.insert(r.entries.end(),
                                 Entry{queue, self, *msg, false, false});
      }
      entry->running = true;
    }
  }
  if (entry == r.entries.end()) {
    // Its receiver is gone, and it would have deleted the data.
    delete msg->pdata;
    msg->pdata = nullptr;
    return false;
  }

  struct Done {
    ~Done() {
      std::lock_guard<std::mutex> lock(r.mutex);
      r.entries.erase(entry);
      r.delivered.notify_all();
    }
    Registry& r;
    std::list<Entry>::iterator entry;
  } done{r, entry};
  msg->phandler->OnMessage(msg);
  return true;
}

void DispatchTracker::HandlerDestroyed(MessageHandler* handler) {
  Registry& r = TheRegistry();
  const pthread_t self = pthread_self();
  std::unique_lock<std::mutex> lock(r.mutex);
  for (Entry& e : r.entries) {
    if (!e.running && e.msg.phandler == handler) e.cancelled = true;
  }
  r.delivered.wait(lock, [&] {
    for (const Entry& e : r.entries) {
      if (e.running && e.msg.phandler == handler &&
          !pthread_equal(e.thread, self)) {
        return false;
      }
    }
    return true;
  });
}

void DispatchTracker::QueueDestroyed(const void* queue) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto it = r.entries.begin(); it != r.entries.end();) {
    if (!it->running && it->queue == queue) {
      it = r.entries.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace talk_base
