// The instance protocol over the shared block.
//
// The block can hold anything: other instances write it without a lock, a process can die
// halfway through any step, and a buggy or hostile process of this user can scribble on it.
// So every count and index read from it is bounded before use, every wait has a time-out, and
// the chunk area changes hands only by compare-and-swap: `claimant` for the claim, the
// (chunkDest, chunkSeq) pair for taking or dropping a filled chunk.
#include "services/instances.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace vxo {

static_assert(offsetof(InstanceBlock, ownerPid) == 0);
static_assert(offsetof(InstanceBlock, nextMessageId) == 4);
static_assert(offsetof(InstanceBlock, nextChunkSeq) == 8);
static_assert(offsetof(InstanceBlock, reserved) == 12);
static_assert(offsetof(InstanceBlock, ownerMutex) == 16);
static_assert(offsetof(InstanceBlock, ownerEvent) == 24);
static_assert(offsetof(InstanceBlock, generation) == 32);
static_assert(offsetof(InstanceBlock, chunkSender) == 36);
static_assert(offsetof(InstanceBlock, chunkDest) == 40);
static_assert(offsetof(InstanceBlock, chunkSeq) == 44);
static_assert(offsetof(InstanceBlock, chunkTicket) == 40);
static_assert(offsetof(InstanceBlock, busy) == 48);
static_assert(offsetof(InstanceBlock, retries) == 52);
static_assert(offsetof(InstanceBlock, messageId) == 56);
static_assert(offsetof(InstanceBlock, chunkIndex) == 60);
static_assert(offsetof(InstanceBlock, lastChunkIndex) == 64);
static_assert(offsetof(InstanceBlock, chunkSize) == 68);
static_assert(offsetof(InstanceBlock, totalLength) == 72);
static_assert(offsetof(InstanceBlock, chunkLength) == 76);
static_assert(offsetof(InstanceBlock, chunkData) == 80);
static_assert(offsetof(InstanceBlock, instanceCount) == 1104);
static_assert(offsetof(InstanceBlock, instancePids) == 1108);
static_assert(offsetof(InstanceBlock, claimant) == 2108);
static_assert(offsetof(InstanceBlock, servingPids) == 2112);
static_assert(offsetof(InstanceBlock, droppedTicket) == 3112);
static_assert(sizeof(InstanceBlock) <= platform::kInstanceSyncOffset);
static_assert(platform::kInstanceSyncOffset < platform::kInstanceBlockSize);

namespace {

constexpr std::uint32_t kPollMs = 100;            // longest sleep of the messaging thread
constexpr std::uint32_t kMutexWaitMs = 1000;      // a claim or table update gives up after this
constexpr std::uint64_t kLivenessCacheMs = 20;    // a liveness answer is reused this long
// How long a filled chunk may hold the area for everyone. Its sender drops it after a second
// when the destination has not taken it (a stopped process, one without a messaging thread, one
// whose receiver fell kMaxReceivedBytes behind); after that the rest of its message goes at
// once, and each further message to that destination gets only a short probe until it takes
// one again. Other instances drop a chunk only for a sender that stalled too.
constexpr std::uint64_t kSenderPatienceMs = 1000;
constexpr std::uint64_t kDeafProbeMs = 50;
constexpr std::uint64_t kOthersPatienceMs = 3000;  // the destination runs a messaging thread
constexpr std::uint64_t kUnservedDropMs = 1000;    // it does not: it never takes a chunk
constexpr std::uint64_t kLegacyClaimMs = 5000;     // a claim without claimant that stays empty
constexpr std::uint64_t kPartialStallMs = 30000;   // a partial message that stopped growing
constexpr std::uint64_t kPendingCheckMs = 500;
constexpr std::size_t kMaxPending = 32;
constexpr std::size_t kMaxDeaf = 256;
constexpr std::int32_t kMaxLastChunkIndex = static_cast<std::int32_t>((kMaxMessageBytes - 1) / kChunkBytes);

template <typename T>
T Load(const T& field) {
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}
template <typename T>
void Store(T& field, T value) {
    __atomic_store_n(&field, value, __ATOMIC_RELEASE);
}
template <typename T>
bool Swap(T& field, T expected, T desired) {
    return __atomic_compare_exchange_n(&field, &expected, desired, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_ACQUIRE);
}
template <typename T>
T FetchAdd(T& field, T amount) {
    return __atomic_fetch_add(&field, amount, __ATOMIC_ACQ_REL);
}

std::uint32_t TicketDest(std::uint64_t ticket) { return static_cast<std::uint32_t>(ticket); }
std::uint64_t Ticket(std::uint32_t dest, std::int32_t seq) {
    return std::uint64_t{dest} | std::uint64_t{static_cast<std::uint32_t>(seq)} << 32;
}
std::uint64_t EmptiedTicket(std::uint64_t ticket) { return ticket & 0xFFFFFFFF00000000ULL; }

int ListedCount(const InstanceBlock& block) {
    return std::clamp<std::int32_t>(Load(block.instanceCount), 0, kMaxListedInstances);
}

// The shared mutex for a scope, when it can be had in time. Without it the table updates still
// happen: the mutex narrows their races, the compare-and-swaps make the chunk area safe.
class SharedLock {
public:
    explicit SharedLock(platform::InstanceSync& sync) : sync_(sync), token_(sync.Lock(kMutexWaitMs)) {}
    ~SharedLock() {
        if (token_ != 0) sync_.Unlock(token_);
    }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    platform::InstanceSync& sync_;
    std::uintptr_t token_;
};

}  // namespace

InstanceManager::InstanceManager(std::uint8_t* block, std::size_t size,
                                 std::unique_ptr<platform::InstanceSync> sync) {
    if (block == nullptr || size < platform::kInstanceBlockSize) {
        privateBlock_.reset(new std::uint8_t[platform::kInstanceBlockSize]());
        block = privateBlock_.get();
    }
    block_ = reinterpret_cast<InstanceBlock*>(block);
    sync_ = sync != nullptr ? std::move(sync) : platform::NewInstanceSync(block, &block_->generation);
    ownPid_ = sync_->CurrentPid();
    EnsureOwner();
    Register();
}

InstanceManager::~InstanceManager() {
    Shutdown();
    if (thread_.joinable()) thread_.join();  // only a sink that does not return keeps it here
}

std::uint32_t InstanceManager::OwnerPid() const { return Load(block_->ownerPid); }

void InstanceManager::PublishOwnObjects() {
    if (!sync_->HasObjects()) sync_->CreateObjects();
    std::uint64_t mutexValue = 0;
    std::uint64_t eventValue = 0;
    sync_->ObjectValues(mutexValue, eventValue);
    Store(block_->ownerMutex, mutexValue);
    Store(block_->ownerEvent, eventValue);
    adoptedMutex_ = mutexValue;
    adoptedEvent_ = eventValue;
}

// Asked on every wake-up, so the answer is reused for a moment: a dead owner is replaced a few
// milliseconds later, and a chunk costs no look at the owner's liveness.
bool InstanceManager::OwnerAlive(std::uint32_t owner) {
    if (owner == 0) return false;
    const std::uint64_t now = sync_->NowMs();
    if (ownerChecked_.checkedMs != 0 && ownerChecked_.ticket == owner && now - ownerChecked_.checkedMs < kLivenessCacheMs) {
        return ownerChecked_.alive;
    }
    const bool alive = (owner == knownOwnerPid_ && sync_->OwnerActive()) || sync_->IsAlive(owner);
    ownerChecked_ = Watched{owner, now, now == 0 ? 1 : now, alive};
    return alive;
}

void InstanceManager::EnsureOwner() {
    // Two rounds: a compare-and-swap lost to another instance is settled by looking again.
    for (int round = 0; round < 2; ++round) {
        const std::uint32_t owner = Load(block_->ownerPid);
        if (owner == ownPid_) {
            if (knownOwnerPid_ != ownPid_) {
                knownOwnerPid_ = ownPid_;
                sync_->WatchOwner(0);
                PublishOwnObjects();
            }
            return;
        }
        if (!OwnerAlive(owner)) {
            if (!Swap(block_->ownerPid, owner, ownPid_)) continue;
            // Objects held from the old owner are the ones everyone shares, so they are
            // published again; a process that never had any makes new ones, and every other
            // instance takes them when it sees the owner change (below).
            knownOwnerPid_ = ownPid_;
            sync_->WatchOwner(0);
            PublishOwnObjects();
            return;
        }
        if (owner != knownOwnerPid_) {
            knownOwnerPid_ = owner;
            sync_->WatchOwner(owner);
            adoptedMutex_ = adoptedEvent_ = ~std::uint64_t{0};  // forces the adoption below
        }
        // The owner's objects replace any held ones, and are taken again whenever it publishes
        // other values (a new owner writes them just after it wins `ownerPid`).
        const std::uint64_t mutexValue = Load(block_->ownerMutex);
        const std::uint64_t eventValue = Load(block_->ownerEvent);
        if (mutexValue != adoptedMutex_ || eventValue != adoptedEvent_) {
            adoptedMutex_ = mutexValue;
            adoptedEvent_ = eventValue;
            sync_->AdoptObjects(mutexValue, eventValue);
        }
        return;
    }
}

void InstanceManager::PruneTable() {
    const int count = ListedCount(*block_);
    const std::uint32_t owner = Load(block_->ownerPid);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t pid = Load(block_->instancePids[i]);
        if (pid != 0 && pid != owner && sync_->IsAlive(pid)) Store(block_->instancePids[kept++], pid);
    }
    Store(block_->instanceCount, kept);
}

void InstanceManager::PruneInstances() {
    SharedLock lock(*sync_);
    PruneTable();
}

void InstanceManager::Register() {
    SharedLock lock(*sync_);
    PruneTable();
    const int count = ListedCount(*block_);
    if (count >= kMaxListedInstances) return;  // unlisted, but it still sends and receives
    Store(block_->instancePids[count], ownPid_);
    Store(block_->instanceCount, count + 1);
}

std::vector<std::uint32_t> InstanceManager::Instances() {
    PruneInstances();
    std::vector<std::uint32_t> result{Load(block_->ownerPid)};
    const int count = ListedCount(*block_);
    for (int i = 0; i < count; ++i) result.push_back(Load(block_->instancePids[i]));
    return result;
}

bool InstanceManager::Enqueue(std::uint32_t destPid, std::vector<std::uint8_t> payload, std::uint32_t waitMs) {
    if (destPid == 0) destPid = OwnerPid();
    // A chunk addressed to 0 would look like one still being written, for ever.
    if (destPid == 0 || payload.empty() || payload.size() > kMaxMessageBytes) return false;
    {
        std::unique_lock<std::mutex> lock(queueLock_);
        const std::size_t size = payload.size();
        auto room = [&] { return queue_.empty() || queuedBytes_ + size <= kMaxQueuedBytes; };
        if (!room() && !queueChanged_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                               [&] { return room() || !running_; })) {
            return false;
        }
        if (!running_ && !room()) return false;
        queue_.push_back(Outgoing{destPid, std::move(payload), 0, 0});
        queuedBytes_ += size;
    }
    sync_->Pulse();
    return true;
}

bool InstanceManager::Flush(std::uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(queueLock_);
    auto settled = [&] { return queue_.empty() && !inFlight_.active; };
    queueChanged_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return settled() || !running_; });
    const std::uint64_t dropped = dropped_.load();
    const bool clean = dropped == droppedAtFlush_;
    droppedAtFlush_ = dropped;
    return settled() && clean;
}

bool InstanceManager::QueueEmpty() const {
    std::lock_guard<std::mutex> lock(queueLock_);
    return queue_.empty();
}

bool InstanceManager::IsServing(std::uint32_t pid) const {
    for (const std::uint32_t& slot : block_->servingPids) {
        if (Load(slot) == pid) return true;
    }
    return false;
}

void InstanceManager::SetServing(bool serving) {
    if (!serving) {
        for (std::uint32_t& slot : block_->servingPids) Swap(slot, ownPid_, 0u);
        return;
    }
    if (IsServing(ownPid_)) return;
    for (std::uint32_t& slot : block_->servingPids) {
        if (Swap(slot, 0u, ownPid_)) return;
    }
    // Full: take the slot of an instance that is gone.
    for (std::uint32_t& slot : block_->servingPids) {
        const std::uint32_t pid = Load(slot);
        if (pid != ownPid_ && !sync_->IsAlive(pid) && Swap(slot, pid, ownPid_)) return;
    }
}

bool InstanceManager::StartMessaging(Sink sink) {
    std::lock_guard<std::mutex> lock(stateLock_);
    if (started_ || shutDown_) return false;
    sink_ = std::move(sink);
    SetServing(true);
    try {
        dispatcher_ = std::thread([this] { Dispatching(); });
    } catch (...) {
        SetServing(false);
        return false;
    }
    try {
        thread_ = std::thread([this] { MessagingLoop(); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> inbox(inboxLock_);
            running_ = false;
        }
        inboxChanged_.notify_all();
        dispatcher_.join();
        running_ = true;
        SetServing(false);
        return false;
    }
    started_ = true;
    return true;
}

bool InstanceManager::Shutdown(std::uint32_t waitMs) {
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        shutDown_ = true;
        std::lock_guard<std::mutex> inbox(inboxLock_);
        std::lock_guard<std::mutex> queue(queueLock_);
        running_ = false;
    }
    inboxChanged_.notify_all();
    queueChanged_.notify_all();
    sync_->Interrupt();
    if (thread_.joinable()) {
        std::unique_lock<std::mutex> lock(stateLock_);
        if (!stopped_.wait_for(lock, std::chrono::milliseconds(waitMs),
                               [this] { return threadDone_ && dispatcherDone_; })) {
            return false;  // still inside the sink: everything it may touch stays as it is
        }
        lock.unlock();
        thread_.join();
        dispatcher_.join();
    }
    if (!closed_) {
        closed_ = true;
        SetServing(false);
        sync_->CloseObjects();
    }
    return true;
}

void InstanceManager::MessagingLoop() {
    while (running_) {
        if (Load(block_->generation) == lastGeneration_) sync_->Wait(lastGeneration_, kPollMs);
        if (!running_) break;
        ReceivedMessage completed;
        if (ServiceOnce(completed, inboxBytes_.load())) {
            inboxBytes_ += completed.bytes.size();
            {
                std::lock_guard<std::mutex> lock(inboxLock_);
                inbox_.push_back(std::move(completed));
            }
            inboxChanged_.notify_one();
        }
    }
    std::lock_guard<std::mutex> lock(stateLock_);
    threadDone_ = true;
    stopped_.notify_all();
}

void InstanceManager::Dispatching() {
    for (;;) {
        ReceivedMessage message;
        {
            std::unique_lock<std::mutex> lock(inboxLock_);
            inboxChanged_.wait(lock, [this] { return !inbox_.empty() || !running_; });
            if (!running_) break;  // the process is ending: what is left is not delivered
            message = std::move(inbox_.front());
            inbox_.pop_front();
        }
        const std::size_t size = message.bytes.size();
        if (sink_) sink_(std::move(message));
        inboxBytes_ -= size;  // counted until handled: the messaging thread waits for room
    }
    std::lock_guard<std::mutex> lock(stateLock_);
    dispatcherDone_ = true;
    stopped_.notify_all();
}

bool InstanceManager::ServiceOnce(ReceivedMessage& completed, std::size_t heldBytes) {
    lastGeneration_ = Load(block_->generation);
    EnsureOwner();
    SettleInFlight();
    bool changed = false;
    bool complete = false;
    // The ticket first: a chunk is written after its claim, so the claim read afterwards is the
    // filled chunk's own or a later state, never an earlier one that would make it look unheld.
    const std::uint64_t ticket = Load(block_->chunkTicket);
    const std::int32_t busy = Load(block_->busy);
    const std::uint32_t claimant = Load(block_->claimant);
    const std::uint32_t dest = TicketDest(ticket);
    const bool held = claimant != 0 || busy != 0;  // busy alone: a claim by a published-procedure copy
    if (claimant != 0 && busy == 0 && dest != 0) {
        // A copy that knows nothing of `claimant` took (or dropped) the chunk by clearing `busy`
        // alone; the claim it leaves is finished here, and the chunk counts as taken.
        changed = Swap(block_->chunkTicket, ticket, EmptiedTicket(ticket)) && Swap(block_->claimant, claimant, 0u);
    } else if (held && dest == ownPid_) {
        // Taken only while there is room; otherwise it waits, and its sender's patience decides.
        if (pendingBytes_ + heldBytes + kChunkBytes <= kMaxReceivedBytes) {
            complete = ConsumeChunk(ticket, completed);
            changed = true;
        }
    } else if (held && dest != 0) {
        changed = JudgeWaitingChunk(ticket, claimant == ownPid_);
    } else if (claimant != 0) {
        changed = FreeAbandonedClaim(claimant);
    } else if (busy != 0) {
        // Claimed and not yet filled by a copy that names no claimant: it is given time to
        // write, and freed only once that is plainly over.
        const std::uint64_t now = sync_->NowMs();
        if (watched_.ticket != ticket) watched_ = Watched{ticket, now, 0, true};
        if (now - watched_.firstSeenMs >= kLegacyClaimMs && Load(block_->chunkTicket) == ticket) {
            changed = Swap(block_->busy, busy, 0);
            watched_ = Watched{};  // the next claim may show the same ticket: it gets its own time
        }
    } else if (dest != 0) {
        // A filled chunk nobody holds is no chunk: left by a corrupt block, never by a sender.
        changed = Swap(block_->chunkTicket, ticket, EmptiedTicket(ticket));
    }
    SettleInFlight();
    if (!inFlight_.active && !QueueEmpty() && TryClaimArea()) {
        WriteChunk();
        changed = true;
    }
    if (changed) sync_->Pulse();
    PrunePending();
    return complete;
}

void InstanceManager::SettleInFlight() {
    // Settled once the area no longer names this process: whoever took or dropped the chunk
    // wrote droppedTicket (on a drop) before it freed the area.
    if (!inFlight_.active || Load(block_->claimant) == ownPid_) return;
    const bool dropped = Load(block_->droppedTicket) == inFlight_.ticket;
    // Counted before the message settles: a Flush that sees it settled sees the drop too.
    if (dropped) MessageDropped(inFlight_.destPid, inFlight_.messageBytes);
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        // The rest of a message whose chunk was dropped goes at once: it cannot arrive whole.
        if (dropped && !inFlight_.last && !queue_.empty() && queue_.front().offset > 0) {
            queuedBytes_ -= queue_.front().bytes.size();
            queue_.pop_front();
        }
        inFlight_.active = false;
    }
    queueChanged_.notify_all();
    if (!dropped) {
        deaf_.erase(inFlight_.destPid);
        return;
    }
    if (deaf_.size() >= kMaxDeaf) deaf_.clear();
    deaf_[inFlight_.destPid] = true;
}

void InstanceManager::MessageDropped(std::uint32_t destPid, std::size_t bytes) {
    dropped_ += 1;
    std::fprintf(stderr, "vexilo: a message of %zu bytes to instance %u was dropped: that instance did not take it\n",
                 bytes, destPid);
}

bool InstanceManager::TryClaimArea() {
    if (Load(block_->claimant) != 0 || Load(block_->busy) != 0) return false;
    SharedLock lock(*sync_);
    // Copies that follow the published procedure claim by `busy` under the same lock.
    if (Load(block_->busy) != 0 || Load(block_->claimant) != 0) return false;
    // Emptied before the claim shows: a claim with a destination and no `busy` is a taken chunk.
    Store(block_->chunkTicket, EmptiedTicket(Load(block_->chunkTicket)));
    if (!Swap(block_->claimant, 0u, ownPid_)) return false;
    Store(block_->busy, 1);
    return true;
}

void InstanceManager::ReleaseArea() {
    Store(block_->busy, 0);
    Store(block_->claimant, 0u);
}

void InstanceManager::WriteChunk() {
    Outgoing* message;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        message = &queue_.front();  // only this thread removes entries, so it stays put
    }
    if (message->offset == 0) {
        message->messageId = static_cast<std::uint32_t>(FetchAdd(block_->nextMessageId, 1));
    }
    const std::size_t size = message->bytes.size();
    const std::size_t length = std::min<std::size_t>(kChunkBytes, size - message->offset);
    const std::int32_t seq = FetchAdd(block_->nextChunkSeq, 1);
    Store(block_->chunkSender, ownPid_);
    Store(block_->chunkSize, kChunkBytes);
    Store(block_->messageId, message->messageId);
    Store(block_->chunkTicket, Ticket(0, seq));
    Store(block_->totalLength, static_cast<std::uint32_t>(size));
    Store(block_->lastChunkIndex, static_cast<std::int32_t>((size - 1) / kChunkBytes));
    Store(block_->chunkIndex, static_cast<std::int32_t>(message->offset / kChunkBytes));
    Store(block_->chunkLength, static_cast<std::int32_t>(length));
    Store(block_->busy, 1);
    Store(block_->retries, 0);
    std::memcpy(block_->chunkData, message->bytes.data() + message->offset, length);
    // The destination last, with release order: whoever sees it sees the whole chunk.
    Store(block_->chunkTicket, Ticket(message->destPid, seq));
    message->offset += kChunkBytes;
    const bool last = message->offset >= size;
    std::lock_guard<std::mutex> lock(queueLock_);
    inFlight_ = InFlight{true, Ticket(message->destPid, seq), message->destPid, message->messageId, size, last};
    if (last) {
        queuedBytes_ -= size;
        queue_.pop_front();
    }
}

bool InstanceManager::ConsumeChunk(std::uint64_t ticket, ReceivedMessage& completed) {
    const std::uint32_t sender = Load(block_->chunkSender);
    const std::uint32_t id = Load(block_->messageId);
    const std::int32_t index = Load(block_->chunkIndex);
    const std::int32_t last = Load(block_->lastChunkIndex);
    const std::int32_t length = Load(block_->chunkLength);
    // Every chunk but the last is full; a message is at most kMaxMessageBytes.
    const bool wellFormed = length > 0 && length <= kChunkBytes && index >= 0 && index <= last &&
                            last <= kMaxLastChunkIndex && (index == last || length == kChunkBytes);
    std::uint8_t data[kChunkBytes];
    if (wellFormed) std::memcpy(data, block_->chunkData, static_cast<std::size_t>(length));
    // Taken only if it is still the chunk looked at; a dropper may have been quicker.
    if (!Swap(block_->chunkTicket, ticket, EmptiedTicket(ticket))) return false;
    ReleaseArea();

    const std::uint64_t now = sync_->NowMs();
    auto entry = pending_.end();
    if (index == 0 && wellFormed) {
        if (pending_.size() >= kMaxPending) {
            pendingBytes_ -= pending_.front().bytes.size();
            pending_.erase(pending_.begin());
        }
        pending_.push_back(Incoming{id, sender, 0, last, now, {}});
        entry = pending_.end() - 1;
    } else {
        entry = std::find_if(pending_.begin(), pending_.end(),
                             [&](const Incoming& m) { return m.messageId == id && m.senderPid == sender; });
        if (entry == pending_.end()) return false;
    }
    const bool inOrder = wellFormed && entry->chunksReceived == index && entry->lastChunkIndex == last &&
                         pendingBytes_ + static_cast<std::size_t>(length) <= kMaxReceivedBytes;
    if (!inOrder) {  // a chunk is missing or the message cannot be kept: it is lost
        pendingBytes_ -= entry->bytes.size();
        pending_.erase(entry);
        return false;
    }
    entry->bytes.insert(entry->bytes.end(), data, data + length);
    entry->chunksReceived += 1;
    entry->lastProgressMs = now;
    pendingBytes_ += static_cast<std::size_t>(length);
    if (index != last) return false;
    pendingBytes_ -= entry->bytes.size();
    completed.senderPid = entry->senderPid;
    completed.bytes = std::move(entry->bytes);
    pending_.erase(entry);
    return true;
}

bool InstanceManager::JudgeWaitingChunk(std::uint64_t ticket, bool mine) {
    const std::uint64_t now = sync_->NowMs();
    const std::uint32_t dest = TicketDest(ticket);
    if (watched_.ticket != ticket) watched_ = Watched{ticket, now, 0, true};
    if (watched_.checkedMs == 0 || now - watched_.checkedMs >= kLivenessCacheMs) {
        watched_.alive = sync_->IsAlive(dest);
        watched_.checkedMs = now == 0 ? 1 : now;
    }
    // A live destination with a messaging thread takes a chunk within milliseconds (its receiver
    // runs on a thread of its own); one that has not after a second is stopped or far behind.
    std::uint64_t patience;
    if (mine) {
        patience = deaf_.count(dest) != 0 ? kDeafProbeMs : kSenderPatienceMs;
    } else {
        patience = IsServing(dest) ? kOthersPatienceMs : kUnservedDropMs;
    }
    if (watched_.alive && now - watched_.firstSeenMs < patience) return false;
    return Drop(ticket);
}

bool InstanceManager::Drop(std::uint64_t ticket) {
    if (!Swap(block_->chunkTicket, ticket, EmptiedTicket(ticket))) return false;
    Store(block_->droppedTicket, ticket);  // before the area is free: its sender looks then
    ReleaseArea();
    return true;
}

bool InstanceManager::FreeAbandonedClaim(std::uint32_t claimant) {
    // A claimant writes its chunk in microseconds and never leaves a claim behind, so a claim
    // with no destination is only ever freed when its claimant is gone.
    if (claimant != ownPid_ && sync_->IsAlive(claimant)) return false;
    if (!Swap(block_->claimant, claimant, ownPid_)) return false;
    ReleaseArea();
    return true;
}

void InstanceManager::PrunePending() {
    const std::uint64_t now = sync_->NowMs();
    if (now - pendingCheckedMs_ < kPendingCheckMs) return;
    pendingCheckedMs_ = now;
    // A block made anew (it did not validate) lost this instance's entries: they come back.
    bool listed = false;
    const int count = ListedCount(*block_);
    for (int i = 0; i < count && !listed; ++i) listed = Load(block_->instancePids[i]) == ownPid_;
    if (!listed && Load(block_->ownerPid) != ownPid_) Register();
    if (sink_) SetServing(true);
    // A partial message whose sender is gone, or that stopped growing, never completes.
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (now - it->lastProgressMs >= kPartialStallMs || !sync_->IsAlive(it->senderPid)) {
            pendingBytes_ -= it->bytes.size();
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace vxo
