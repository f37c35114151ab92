#pragma once

// The chat messages whose sender and body are still being collected.

#include <cstdint>
#include <memory>
#include <string>

namespace velantro::app {

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

/// A doubly linked list of atoms, appended at the tail and found by a walk
/// from the head. Ids are unique within it.
class TMessageQueue {
public:
    TMessageQueue() = default;
    ~TMessageQueue();
    TMessageQueue(const TMessageQueue&) = delete;
    TMessageQueue& operator=(const TMessageQueue&) = delete;

    /// The atom of this id, or null.
    QueueAtom* Find(std::int32_t id) const;

    /// Finds or appends the atom of id and stores value as its part; a later
    /// piece of the same kind replaces the earlier one.
    QueueAtom& QueueChatMsgPart(std::int32_t id, std::string value, TMsgPart part);

    /// Takes the atom out of the queue and frees it.
    void Unlink(QueueAtom& atom);

    /// Frees every atom.
    void Clear();

    QueueAtom* QueueHead() const { return Head.get(); }
    QueueAtom* QueueTail() const { return Tail; }

private:
    std::unique_ptr<QueueAtom> Head;
    QueueAtom* Tail = nullptr;
};

} // namespace velantro::app
