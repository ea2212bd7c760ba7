// The worker thread and its actions against the simulated device.
#include <gtest/gtest.h>

#include <atomic>

#include "device/value_codec.h"
#include "sim_rig.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

const std::string kBuk = std::string(TUNAVOX_DEVICES_DIR) + "/NastrBUK2.xml";

std::atomic<int> g_freed{0};

// A read that counts its own destruction.
class CountedRead : public TActionReadReg {
public:
    using TActionReadReg::TActionReadReg;
    ~CountedRead() override { ++g_freed; }
};

// Rows that "Считать все" reads.
std::vector<int> ReadableRows(const TRegList& regs) {
    std::vector<int> rows;
    for (int i = 0; i < regs.Count(); ++i)
        if (regs.Items(i)->RegType != rtHeader && regs.Items(i)->Io != ioW) rows.push_back(i);
    return rows;
}

} // namespace

TEST(Engine, StrictFifoAndTwoReadAllsBackToBack) {
    SimRig rig(kBuk, 1);
    const std::vector<int> rows = ReadableRows(rig.Regs);
    std::vector<int> done;
    auto handler = [&](TAction* a) {
        EXPECT_EQ(a->Error(), "") << a->Node;
        done.push_back(a->Node);
    };
    // Queue in reverse, twice: they must run exactly in that order.
    std::vector<int> expected;
    for (int pass = 0; pass < 2; ++pass)
        for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
            rig.Worker->AddAction(
                std::make_unique<TActionReadReg>(&rig.Canal, 0, rig.Regs.Items(*it), *it, handler));
            expected.push_back(*it);
        }
    ASSERT_TRUE(rig.ServeUntil([&] { return done.size() == expected.size(); }, 20000));
    EXPECT_EQ(done, expected);
    EXPECT_EQ(rig.Sim->RequestCount(), expected.size());
    EXPECT_EQ(rig.Reg(0x21)->DisplayText(), "75");
}

TEST(Engine, ActionWithoutHandlerUpdatesSilently) {
    SimRig rig(kBuk, 1);
    TReg* reg = rig.Reg(0xFFFD);
    rig.Worker->AddAction(std::make_unique<TActionReadReg>(&rig.Canal, 0, reg, -1, nullptr));
    ASSERT_TRUE(rig.ServeUntil([&] { return !reg->GetValue().IsNull(); }));
    EXPECT_EQ(reg->GetValue(), TValue(uint16_t{0}));
    EXPECT_EQ(rig.Worker->Queue.Count(), 0u);
}

TEST(Engine, FailuresAreStoredWithTheRegister) {
    TSimOptions options;
    options.Faults.ErrorCodes[0x21] = 5;
    SimRig rig(kBuk, 1, options);
    TReg* reg = rig.Reg(0x21);
    EXPECT_EQ(rig.Read(0x21), "\x05");
    EXPECT_TRUE(reg->GetValue().IsNull());
    EXPECT_TRUE(reg->GetDevValue().IsNull());
    EXPECT_EQ(reg->GetLastError(), "\x05");
    // A failed write keeps both values and records the error.
    reg->SetValue(TValue(int16_t{70}), true, "");
    EXPECT_EQ(rig.Write(0x21, "71"), "\x05");
    EXPECT_EQ(reg->GetValue(), TValue(int16_t{71}));
    EXPECT_EQ(reg->GetDevValue(), TValue(int16_t{70}));
    EXPECT_TRUE(reg->IsModified());
    // A write the device takes commits the value.
    EXPECT_EQ(rig.Write(0x22, "0,75"), "");
    EXPECT_FALSE(rig.Reg(0x22)->IsModified());
    EXPECT_EQ(rig.Sim->Value(0x22), TValue(0.75));
}

TEST(Engine, ExceptionInExecuteBecomesTheError) {
    class Throwing : public TAction {
    public:
        using TAction::TAction;

    protected:
        void Execute() override { throw std::runtime_error("сбой"); }
    };
    TRegList list;
    Throwing action(nullptr, 0, list.Add(), -1, nullptr);
    EXPECT_FALSE(action.Run());
    EXPECT_EQ(action.Error(), "сбой");
    EXPECT_TRUE(list.Items(0)->GetValue().IsNull());
}

TEST(Engine, TerminationFinishesTheRunningActionOnly) {
    TSimOptions options;
    options.Faults.DelayMs = 300;
    g_freed = 0;
    int handled = 0;
    {
        SimRig rig(kBuk, 1, options);
        for (uint16_t addr : {0x21, 0x22, 0x02})
            rig.Worker->AddAction(std::make_unique<CountedRead>(&rig.Canal, 0, rig.Reg(addr),
                                                                rig.Row(addr), [&](TAction* a) {
                                                                    EXPECT_EQ(a->Error(), "");
                                                                    ++handled;
                                                                }));
        // Wait until the first request is at the device, then stop while it answers.
        ASSERT_TRUE(rig.ServeUntil([&] { return rig.Sim->RequestCount() == 1; }));
        rig.Worker->Stop([&](int ms) { rig.HandOver.Serve(ms); });
        EXPECT_TRUE(rig.Worker->Finished());
        EXPECT_EQ(handled, 1);
        EXPECT_EQ(rig.Reg(0x21)->GetValue(), TValue(int16_t{75}));
        EXPECT_EQ(g_freed, 1);
        EXPECT_EQ(rig.Worker->Queue.Count(), 2u);
        rig.Worker.reset(); // frees the two queued actions unrun
        EXPECT_EQ(g_freed, 3);
        rig.Worker = std::make_unique<TTh>(rig.HandOver);
    }
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(g_freed, 3);
}

TEST(Engine, HandOverRunsOnTheServingThread) {
    THandOverQueue queue;
    const auto main = std::this_thread::get_id();
    std::thread::id ranOn;
    std::thread worker([&] { queue.Run([&] { ranOn = std::this_thread::get_id(); }); });
    while (!queue.Serve(10)) {
    }
    worker.join();
    EXPECT_EQ(ranOn, main);
    EXPECT_FALSE(queue.Serve(0));
}

TEST(Engine, TheAnswersFirstBytesAreTimedFromTheRequestAtEitherVersion) {
    for (const uint8_t version : {uint8_t{0}, uint8_t{1}}) {
        SCOPED_TRACE(static_cast<int>(version));
        TSimOptions options;
        options.Version = version;
        options.Faults.DelayMs = 60;
        options.DeviceId = 5;
        SimRig rig(kBuk, version, options);
        EXPECT_EQ(rig.Read(0x21, 5), "");
        // The device waits 60 ms from the request's last byte (whole ms either side).
        EXPECT_GE(rig.Canal.LastFirstByteMs(), 58);
        EXPECT_LT(rig.Canal.LastFirstByteMs(), static_cast<int>(rig.Canal.Timeout()));
        // Nothing came: no time.
        EXPECT_EQ(rig.Read(0x21, 7), "Устройство не отвечает");
        EXPECT_EQ(rig.Canal.LastFirstByteMs(), -1);
    }
}
