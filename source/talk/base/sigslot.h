// Typed signals and slots for the base library.
//
// An object with something to report owns a signal (signal0 .. signal3, by
// argument count); any object deriving from sigslot::has_slots can connect one
// of its member functions to it. emit() calls every connection in connection
// order. Signal and receiver track each other, so destroying either side
// removes every connection between them.
//
// Every template takes a locking policy (the last template argument,
// defaulting to single_threaded, so receivers derive from has_slots<> and a
// signal without arguments is a signal0<>). single_threaded's lock and unlock
// do nothing: a signal and its receivers must be used from one thread at a
// time.
//
// Signals are not copyable. A receiver that is copied gets copies of the
// original's connections; a receiver leaves every signal with
// has_slots::disconnect_all or its destruction. An emit survives slots that
// disconnect or destroy themselves or other receivers, and even the signal
// itself: disconnected entries are only unlinked once the outermost emit has
// finished. The walk takes the next entry before each call, so a connection
// made during an emit is called by that emit unless it was made by the last
// entry.
#ifndef TALK_BASE_SIGSLOT_H_
#define TALK_BASE_SIGSLOT_H_

#include <iterator>
#include <list>
#include <set>

namespace sigslot {

// The locking policy. Every signal and receiver locks through these virtual
// slots; for this policy they do nothing.
class single_threaded {
 public:
  single_threaded() {}
  virtual ~single_threaded() {}
  virtual void lock() {}
  virtual void unlock() {}
};

template <class mt_policy>
class has_slots;

// The base through which a receiver reaches its signals, whatever their
// argument types.
template <class mt_policy>
class _signal_base : public mt_policy {
 public:
  _signal_base() {}
  _signal_base(const _signal_base&) = delete;
  _signal_base& operator=(const _signal_base&) = delete;

  // Removes every connection to |pslot| without touching its set of senders
  // (the receiver calls this while it empties that set).
  virtual void disconnect_slot(has_slots<mt_policy>* pslot) = 0;
  // Appends a copy of every connection to |poldslot| for |pnewslot|.
  virtual void duplicate_slot(const has_slots<mt_policy>* poldslot,
                              has_slots<mt_policy>* pnewslot) = 0;
};

// The receiver side: remembers every signal connected to it.
template <class mt_policy = single_threaded>
class has_slots : public mt_policy {
 public:
  typedef _signal_base<mt_policy> sender_type;

  has_slots() {}

  // The copy is connected wherever the original is.
  has_slots(const has_slots& other) : mt_policy() {
    other.lock_const();
    senders_ = other.senders_;
    other.unlock_const();
    for (sender_type* sender : senders_) {
      sender->duplicate_slot(&other, this);
    }
  }

  // Assignment keeps each side's own connections.
  has_slots& operator=(const has_slots&) { return *this; }

  virtual ~has_slots() { disconnect_all(); }

  void add_sender(sender_type* sender) {
    this->lock();
    senders_.insert(sender);
    this->unlock();
  }

  void remove_sender(sender_type* sender) {
    this->lock();
    senders_.erase(sender);
    this->unlock();
  }

  void disconnect_all() {
    this->lock();
    for (sender_type* sender : senders_) {
      sender->disconnect_slot(this);
    }
    senders_.clear();
    this->unlock();
  }

 private:
  void lock_const() const { const_cast<has_slots*>(this)->lock(); }
  void unlock_const() const { const_cast<has_slots*>(this)->unlock(); }

  std::set<sender_type*> senders_;
};

// One connection: a receiver and a member function of it.
template <class mt_policy, class... Args>
class _connection_base {
 public:
  virtual ~_connection_base() {}
  virtual has_slots<mt_policy>* get_dest() const = 0;
  virtual void emit(Args... args) = 0;
  virtual _connection_base* clone() = 0;
  virtual _connection_base* duplicate(has_slots<mt_policy>* pnewdest) = 0;
};

template <class dest_type, class mt_policy, class... Args>
class _connection : public _connection_base<mt_policy, Args...> {
 public:
  typedef _connection_base<mt_policy, Args...> base_type;
  typedef void (dest_type::*member_function)(Args...);

  _connection(dest_type* pobject, member_function pmemfun)
      : pobject_(pobject), pmemfun_(pmemfun) {}

  has_slots<mt_policy>* get_dest() const override { return pobject_; }

  void emit(Args... args) override { (pobject_->*pmemfun_)(args...); }

  base_type* clone() override { return new _connection(*this); }

  base_type* duplicate(has_slots<mt_policy>* pnewdest) override {
    // The new receiver may still be under construction (a receiver being
    // copied), so it is not downcast: it gets the offset that has_slots has
    // within the receiver we hold. That also covers has_slots not being the
    // first base; null stays null.
    dest_type* dest = nullptr;
    if (pnewdest && pobject_) {
      const char* whole = reinterpret_cast<const char*>(pobject_);
      const char* base = reinterpret_cast<const char*>(
          static_cast<has_slots<mt_policy>*>(pobject_));
      dest = reinterpret_cast<dest_type*>(reinterpret_cast<char*>(pnewdest) -
                                          (base - whole));
    }
    return new _connection(dest, pmemfun_);
  }

 private:
  dest_type* pobject_;
  member_function pmemfun_;
};

// The connection list shared by every arity.
template <class mt_policy, class... Args>
class _signal_base_n : public _signal_base<mt_policy> {
 public:
  typedef _connection_base<mt_policy, Args...> connection_type;
  typedef has_slots<mt_policy> slot_type;

  _signal_base_n() : emits_(nullptr) {}

  ~_signal_base_n() override {
    disconnect_all();
    // Tell every emit still running on this signal that it is gone.
    for (emit_frame* f = emits_; f; f = f->outer) f->destroyed = true;
  }

  // Removes every connection; receivers forget this signal.
  void disconnect_all() {
    this->lock();
    for (auto it = connections_.begin(); it != connections_.end();) {
      connection_type* c = *it;
      if (c) c->get_dest()->remove_sender(this);
      it = drop(it);
    }
    this->unlock();
  }

  void disconnect_slot(slot_type* pslot) override {
    this->lock();
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (*it && (*it)->get_dest() == pslot) {
        it = drop(it);
      } else {
        ++it;
      }
    }
    this->unlock();
  }

  void duplicate_slot(const slot_type* oldtarget,
                      slot_type* newtarget) override {
    this->lock();
    // Only the connections present now: the appended ones are never revisited.
    bool duplicated = false;
    if (!connections_.empty()) {
      auto last = std::prev(connections_.end());
      for (auto it = connections_.begin();; ++it) {
        if (*it && (*it)->get_dest() == oldtarget) {
          connections_.push_back((*it)->duplicate(newtarget));
          duplicated = true;
        }
        if (it == last) break;
      }
    }
    // The new receiver must know this signal, or it would leave its
    // connections behind when it goes.
    if (duplicated && newtarget) newtarget->add_sender(this);
    this->unlock();
  }

  // Whether no connection is left.
  bool is_empty() const {
    for (connection_type* c : connections_) {
      if (c) return false;
    }
    return true;
  }

 protected:
  // One running emit; emits nest when a slot emits the same signal again.
  struct emit_frame {
    emit_frame* outer;
    bool destroyed;
  };

  void append(connection_type* conn) { connections_.push_back(conn); }

  void emit_all(Args... args) {
    this->lock();
    emit_frame frame = {emits_, false};
    emits_ = &frame;
    for (auto it = connections_.begin(); it != connections_.end();) {
      const auto next = std::next(it);
      if (connection_type* c = *it) {
        c->emit(args...);
        if (frame.destroyed) return;  // the signal is gone: touch nothing
      }
      it = next;
    }
    emits_ = frame.outer;
    if (!emits_) sweep();
    this->unlock();
  }

 private:
  typedef std::list<connection_type*> connections_list;

  // Deletes the connection at |it|. While an emit walks the list the node
  // stays, emptied, so the walk never loses its place.
  typename connections_list::iterator drop(
      typename connections_list::iterator it) {
    delete *it;
    if (emits_) {
      *it = nullptr;
      return ++it;
    }
    return connections_.erase(it);
  }

  void sweep() { connections_.remove(nullptr); }

  connections_list connections_;
  emit_frame* emits_;
};

template <class mt_policy, class... Args>
class signal_n : public _signal_base_n<mt_policy, Args...> {
 public:
  template <class desttype>
  void connect(desttype* pclass, void (desttype::*pmemfun)(Args...)) {
    this->lock();
    this->append(
        new _connection<desttype, mt_policy, Args...>(pclass, pmemfun));
    pclass->add_sender(this);
    this->unlock();
  }

  void emit(Args... args) { this->emit_all(args...); }
  void operator()(Args... args) { this->emit_all(args...); }
};

// The names of each arity; the policy comes last.
template <class mt_policy = single_threaded>
using _signal_base0 = _signal_base_n<mt_policy>;
template <class a1, class mt_policy = single_threaded>
using _signal_base1 = _signal_base_n<mt_policy, a1>;
template <class a1, class a2, class mt_policy = single_threaded>
using _signal_base2 = _signal_base_n<mt_policy, a1, a2>;
template <class a1, class a2, class a3, class mt_policy = single_threaded>
using _signal_base3 = _signal_base_n<mt_policy, a1, a2, a3>;

template <class mt_policy = single_threaded>
using _connection_base0 = _connection_base<mt_policy>;
template <class a1, class mt_policy = single_threaded>
using _connection_base1 = _connection_base<mt_policy, a1>;
template <class a1, class a2, class mt_policy = single_threaded>
using _connection_base2 = _connection_base<mt_policy, a1, a2>;
template <class a1, class a2, class a3, class mt_policy = single_threaded>
using _connection_base3 = _connection_base<mt_policy, a1, a2, a3>;

template <class dest, class mt_policy = single_threaded>
using _connection0 = _connection<dest, mt_policy>;
template <class dest, class a1, class mt_policy = single_threaded>
using _connection1 = _connection<dest, mt_policy, a1>;
template <class dest, class a1, class a2, class mt_policy = single_threaded>
using _connection2 = _connection<dest, mt_policy, a1, a2>;
template <class dest, class a1, class a2, class a3,
          class mt_policy = single_threaded>
using _connection3 = _connection<dest, mt_policy, a1, a2, a3>;

template <class mt_policy = single_threaded>
using signal0 = signal_n<mt_policy>;
template <class a1, class mt_policy = single_threaded>
using signal1 = signal_n<mt_policy, a1>;
template <class a1, class a2, class mt_policy = single_threaded>
using signal2 = signal_n<mt_policy, a1, a2>;
template <class a1, class a2, class a3, class mt_policy = single_threaded>
using signal3 = signal_n<mt_policy, a1, a2, a3>;

}  // namespace sigslot

#endif  // TALK_BASE_SIGSLOT_H_
