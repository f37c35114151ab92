#include "core/MessageQueue.h"

#include <utility>

namespace velantro::core {

TMessageQueue::TMessageQueue(std::size_t limit)
    : MaxAtoms(limit == 0 ? 1 : limit) {}

TMessageQueue::~TMessageQueue() {
    Clear();
}

QueueAtom* TMessageQueue::Find(std::int32_t id) const {
    const auto found = Index.find(id);
    return found == Index.end() ? nullptr : found->second;
}

QueueAtom& TMessageQueue::QueueChatMsgPart(std::int32_t id, std::string value, TMsgPart part) {
    QueueAtom* atom = Find(id);
    if (atom == nullptr) {
        if (Index.size() >= MaxAtoms) {
            Unlink(*Head);
        }
        auto added = std::make_unique<QueueAtom>();
        added->ChatMsgID = id;
        added->Prev = Tail;
        atom = added.get();
        (Tail == nullptr ? Head : Tail->Next) = std::move(added);
        Tail = atom;
        Index.emplace(id, atom);
    }
    (part == TMsgPart::Body ? atom->Body : atom->FromHandle) = std::move(value);
    return *atom;
}

void TMessageQueue::Unlink(QueueAtom& atom) {
    Index.erase(atom.ChatMsgID);
    std::unique_ptr<QueueAtom> next = std::move(atom.Next);
    if (next) {
        next->Prev = atom.Prev;
    } else {
        Tail = atom.Prev;
    }
    // The owner of atom is its predecessor's Next, or the head; replacing it
    // frees atom.
    (atom.Prev != nullptr ? atom.Prev->Next : Head) = std::move(next);
}

void TMessageQueue::Clear() {
    // One atom at a time, so a long queue is not freed by deep recursion.
    while (Head) {
        Head = std::move(Head->Next);
    }
    Tail = nullptr;
    Index.clear();
}

void TRecentIds::Add(std::int32_t id) {
    if (MaxIds == 0 || !Ids.insert(id).second) {
        return;
    }
    Order.push_back(id);
    if (Order.size() > MaxIds) {
        Ids.erase(Order.front());
        Order.pop_front();
    }
}

} // namespace velantro::core
