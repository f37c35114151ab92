#pragma once

// The chat messages whose sender and body are still being collected.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace velantro::core {

/// One chat message whose pieces are being collected.
struct QueueAtom {
    std::string FromHandle; ///< the sender's handle; empty until known
    std::string Body;       ///< the body's bytes as received; empty until known
    std::int32_t ChatMsgID = 0;
    std::unique_ptr<QueueAtom> Next; ///< towards the tail; owns the rest of the queue
    QueueAtom* Prev = nullptr;       ///< towards the head
};

/// Which piece of a chat message a value is.
enum class TMsgPart { Sender, Body };

/// A doubly linked list of atoms in the order they were started, with an
/// index by id. Ids are unique within it. A client can announce pieces of
/// messages that never complete; the list keeps at most Limit atoms and drops
/// the oldest to make room, so such noise costs neither memory nor time.
class TMessageQueue {
public:
    /// The most atoms kept by default.
    static constexpr std::size_t DefaultLimit = 1000;

    explicit TMessageQueue(std::size_t limit = DefaultLimit);
    ~TMessageQueue();
    TMessageQueue(const TMessageQueue&) = delete;
    TMessageQueue& operator=(const TMessageQueue&) = delete;

    /// The atom of this id, or null; constant time.
    QueueAtom* Find(std::int32_t id) const;

    /// Finds or appends the atom of id and stores value as its part; a later
    /// piece of the same kind replaces the earlier one. Appending to a full
    /// queue first drops the oldest atom.
    QueueAtom& QueueChatMsgPart(std::int32_t id, std::string value, TMsgPart part);

    /// Takes the atom out of the queue and frees it.
    void Unlink(QueueAtom& atom);

    /// Frees every atom.
    void Clear();

    QueueAtom* QueueHead() const { return Head.get(); }
    QueueAtom* QueueTail() const { return Tail; }
    std::size_t Size() const { return Index.size(); }
    std::size_t Limit() const { return MaxAtoms; }

private:
    std::unique_ptr<QueueAtom> Head;
    QueueAtom* Tail = nullptr;
    std::unordered_map<std::int32_t, QueueAtom*> Index;
    std::size_t MaxAtoms;
};

/// The ids of the latest messages, at most Limit of them: enough to know a
/// message that the client announces again, without growing for ever.
class TRecentIds {
public:
    static constexpr std::size_t DefaultLimit = 10000;

    explicit TRecentIds(std::size_t limit = DefaultLimit)
        : MaxIds(limit) {}

    /// Remembers id, forgetting the one remembered longest ago when full.
    void Add(std::int32_t id);
    bool Contains(std::int32_t id) const { return Ids.contains(id); }
    std::size_t Size() const { return Order.size(); }

private:
    std::unordered_set<std::int32_t> Ids;
    std::deque<std::int32_t> Order;
    std::size_t MaxIds;
};

} // namespace velantro::core
