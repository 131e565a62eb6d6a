// The instance protocol, driven pass by pass: several managers over one block in this process.
#include "services/instances.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "services/instance_world.h"

namespace vxo {
namespace {

using test::FakeSync;
using test::InstanceWorld;

class InstancesTest : public ::testing::Test {
protected:
    struct Node {
        FakeSync* sync;
        std::unique_ptr<InstanceManager> manager;
        std::vector<ReceivedMessage> inbox;
    };

    InstancesTest() { world_.generation = &Block().generation; }

    InstanceBlock& Block() { return *reinterpret_cast<InstanceBlock*>(memory_); }

    Node& Start(std::uint32_t pid) {
        auto sync = std::make_unique<FakeSync>(world_, pid);
        FakeSync* raw = sync.get();
        nodes_.push_back(std::make_unique<Node>(
            Node{raw, std::make_unique<InstanceManager>(memory_, sizeof memory_, std::move(sync)), {}}));
        return *nodes_.back();
    }

    void Kill(Node& node) { world_.alive.erase(node.manager->OwnPid()); }
    bool Alive(const Node& node) const { return world_.alive.count(node.manager->OwnPid()) != 0; }
    void Serve(std::uint32_t pid) {
        for (std::uint32_t& slot : Block().servingPids) {
            if (slot == 0) {
                slot = pid;
                return;
            }
        }
    }

    // Lets every live node take passes until a whole round changes nothing (bounded).
    void Pump(const std::vector<Node*>& only = {}) {
        for (int round = 0; round < 20000; ++round) {
            const std::int32_t before = Block().generation;
            for (auto& node : nodes_) {
                if (!Alive(*node) || (!only.empty() && std::find(only.begin(), only.end(), node.get()) == only.end()))
                    continue;
                ReceivedMessage message;
                if (node->manager->ServiceOnce(message)) node->inbox.push_back(std::move(message));
            }
            if (Block().generation == before) return;
        }
        FAIL() << "the instances never settled";
    }

    static std::vector<std::uint8_t> Payload(std::size_t size, std::uint8_t seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 1024);
        return bytes;
    }

    alignas(64) std::uint8_t memory_[platform::kInstanceBlockSize] = {};
    InstanceWorld world_;
    std::vector<std::unique_ptr<Node>> nodes_;
};

TEST_F(InstancesTest, PayloadsArriveWholeWithTheirSender) {
    Node& owner = Start(100);
    Node& other = Start(200);
    const struct {
        std::size_t size;
        Node* from;
        Node* to;
        std::uint32_t address;  // 0: the owner
    } cases[] = {
        {1, &other, &owner, 0},           {1024, &owner, &other, 200},    {1025, &other, &owner, 100},
        {100000, &owner, &other, 200},    {1 << 20, &other, &owner, 0},   {3000, &other, &other, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        c.to->inbox.clear();
        const std::int32_t firstSeq = Block().nextChunkSeq;
        const std::vector<std::uint8_t> payload = Payload(c.size, static_cast<std::uint8_t>(c.size));
        ASSERT_TRUE(c.from->manager->Enqueue(c.address, payload));
        Pump();
        ASSERT_EQ(c.to->inbox.size(), 1u);
        EXPECT_EQ(c.to->inbox[0].senderPid, c.from->manager->OwnPid());
        EXPECT_TRUE(c.to->inbox[0].bytes == payload);
        EXPECT_EQ(Block().nextChunkSeq - firstSeq, static_cast<std::int32_t>((c.size + 1023) / 1024));
        EXPECT_TRUE(c.from->manager->QueueEmpty());
        EXPECT_EQ(Block().claimant, 0u);
        EXPECT_EQ(Block().busy, 0);
    }
    EXPECT_FALSE(owner.manager->Enqueue(200, {}));
    EXPECT_FALSE(owner.manager->Enqueue(200, std::vector<std::uint8_t>(kMaxMessageBytes + 1)));
}

TEST_F(InstancesTest, AChunkWaitsOnlyForADestinationThatWillTakeIt) {
    const struct {
        const char* what;
        bool alive;
        bool serving;
        std::uint64_t waitedMs;
        bool dropped;
    } cases[] = {
        {"gone", false, false, 0, true},
        {"alive, no messaging thread, briefly", true, false, 900, false},
        {"alive, no messaging thread, a second", true, false, 1000, true},
        {"messaging but busy for seconds", true, true, 5000, false},
        {"messaging but stalled", true, true, 30000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive.clear();
        Node& sender = Start(10);
        Start(20);  // never takes a pass: a destination that does not consume
        if (c.serving) Serve(20);
        if (!c.alive) world_.alive.erase(20);
        ASSERT_TRUE(sender.manager->Enqueue(20, Payload(2048, 1)));
        Pump({&sender});
        ASSERT_EQ(Block().chunkDest, c.alive ? 20u : 0u);
        world_.now += c.waitedMs;
        Pump({&sender});
        if (!c.alive) {
            // Both chunks went, one after the other, and the area is free for everyone.
            EXPECT_TRUE(sender.manager->QueueEmpty());
            EXPECT_EQ(Block().claimant, 0u);
        } else {
            // A dropped chunk makes way for the next, which gets the same patience.
            EXPECT_EQ(Block().chunkDest, 20u);
            EXPECT_EQ(Block().chunkIndex, c.dropped ? 1 : 0);
        }
    }
}

TEST_F(InstancesTest, AClaimWithoutDestinationIsFreedOnlyWhenItsClaimantIsGone) {
    const struct {
        const char* what;
        std::uint32_t claimant;
        bool freed;
    } cases[] = {
        {"claimant writing", 30, false},
        {"claimant died after its claim", 31, true},
        {"claimant never existed", 999, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive = {30};
        Node& looker = Start(10);
        Block().claimant = c.claimant;
        Block().busy = 1;
        Block().chunkDest = 0;
        world_.now += 60000;
        Pump({&looker});
        EXPECT_EQ(Block().claimant == 0, c.freed);
        if (c.freed) {
            EXPECT_EQ(Block().busy, 0);
        }
    }
}

TEST_F(InstancesTest, AfterTheOwnerDiesEveryInstanceSharesOneMutexAndEvent) {
    // Whoever takes over, old instances and new ones end up on the same objects.
    for (bool newcomerFirst : {true, false}) {
        SCOPED_TRACE(newcomerFirst ? "a new process finds the owner dead" : "an old instance takes over");
        std::memset(memory_, 0, sizeof memory_);
        nodes_.clear();
        world_.alive.clear();
        Node& first = Start(1);
        Node& second = Start(2);
        Node& third = Start(3);
        ASSERT_EQ(Block().ownerPid, 1u);
        EXPECT_EQ(second.sync->mutex(), first.sync->mutex());
        Kill(first);
        if (!newcomerFirst) second.manager->EnsureOwner();
        Node& fourth = Start(4);  // holds nothing from the dead owner
        Pump();
        const std::uint32_t owner = newcomerFirst ? 4u : 2u;
        EXPECT_EQ(Block().ownerPid, owner);
        for (Node* node : {&second, &third, &fourth}) {
            EXPECT_NE(node->sync->mutex(), 0u);
            EXPECT_EQ(node->sync->mutex(), Block().ownerMutex);
            EXPECT_EQ(node->sync->event(), Block().ownerEvent);
        }
        // And messages flow in every direction.
        ASSERT_TRUE(third.manager->Enqueue(0, Payload(1500, 3)));
        ASSERT_TRUE(fourth.manager->Enqueue(3, Payload(10, 4)));
        Pump();
        Node& ownerNode = newcomerFirst ? fourth : second;
        ASSERT_EQ(ownerNode.inbox.size(), 1u);
        EXPECT_EQ(ownerNode.inbox[0].senderPid, 3u);
        ASSERT_EQ(third.inbox.size(), 1u);
        EXPECT_EQ(third.inbox[0].senderPid, 4u);
    }
}

TEST_F(InstancesTest, TheTableListsTheOwnerFirstAndOnlyLiveInstances) {
    Node& owner = Start(1);
    Start(2);
    Node& third = Start(3);
    EXPECT_EQ(owner.manager->Instances(), (std::vector<std::uint32_t>{1, 2, 3}));
    Kill(third);
    EXPECT_EQ(owner.manager->Instances(), (std::vector<std::uint32_t>{1, 2}));
    // Right after the owner died, before anyone noticed, it is still listed first.
    Kill(owner);
    EXPECT_EQ(nodes_[1]->manager->Instances(), (std::vector<std::uint32_t>{1, 2}));
    nodes_[1]->manager->EnsureOwner();
    EXPECT_EQ(nodes_[1]->manager->Instances(), (std::vector<std::uint32_t>{2}));

    // 250 listed besides the owner; the next is not, yet it still sends and receives.
    for (std::uint32_t pid = 1000; pid < 1250; ++pid) Start(pid);
    Node& unlisted = Start(5000);
    std::vector<std::uint32_t> listed = unlisted.manager->Instances();
    EXPECT_EQ(listed.size(), 251u);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 5000u), 0);
    ASSERT_TRUE(unlisted.manager->Enqueue(0, Payload(5, 5)));
    Pump({nodes_[1].get(), &unlisted});
    ASSERT_EQ(nodes_[1]->inbox.size(), 1u);
    EXPECT_EQ(nodes_[1]->inbox[0].senderPid, 5000u);
}

TEST_F(InstancesTest, IncompleteMessagesDoNotStayPending) {
    Node& receiver = Start(1);
    Node& sender = Start(2);
    // The sender dies after its first chunk: the partial message goes once that is seen.
    ASSERT_TRUE(sender.manager->Enqueue(1, Payload(5000, 9)));
    Pump({&sender});
    Pump({&receiver});
    EXPECT_EQ(receiver.manager->PendingCount(), 1u);
    Kill(sender);
    world_.now += 1000;
    Pump({&receiver});
    EXPECT_EQ(receiver.manager->PendingCount(), 0u);
    EXPECT_TRUE(receiver.inbox.empty());

    // A chunk out of order ends the message it belongs to.
    Node& third = Start(3);
    ASSERT_TRUE(third.manager->Enqueue(1, Payload(3000, 1)));
    Pump({&third});
    Pump({&receiver});
    Pump({&third});
    Block().chunkIndex = 2;  // the second chunk claims to be the third
    Pump({&receiver});
    EXPECT_EQ(receiver.manager->PendingCount(), 0u);
    Pump();
    EXPECT_TRUE(receiver.inbox.empty());
}

}  // namespace
}  // namespace vxo
