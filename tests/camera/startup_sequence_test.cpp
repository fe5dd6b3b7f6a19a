#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kernel/pool.h"
#include "support/sim_device.h"
#include "support/wire_log.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;
using testing::WireLog;
using Lines = std::vector<std::string>;

// The sensor writes of the start-up as the camera's register tables print them: runs of
// "register: value" and "first-last: value" entries, and the timing table as rows of hexadecimal
// values for consecutive registers from 512.
const char* const kSetupRuns[] = {
    "35: 62; 36: 7; 37: 32; 38: 39; 39: 55; 40: 6; 41: 22; 42: 1; 43: 32; 44: 39; 45: 5; 46: 2",
};
const char* const kWideRuns[] = {
    "035001 220001 01C003 050006 035007 075011 03501B 00042C 3E042C",  // 384-392
    "10E001 220001 0D1003 14D006 10E007 19E009 10E00A 09110B 3E010B",  // 400-408
};
// clang-format off
const char* const kTimingRows[] = {
    "032019 072032 310035 252036 104037 006038 034039 03603A 14C077 048078 10A0B7 00E0B8 1440F7 0460F8 10C137 008138",  // 512-527
    "14A177 04E178 250186 112187 076188 03018A 070199 07419C 07C1AA 03C6F9 03A6FD 3FE6FE 032019 072032 310035 252036",  // 528-543
    "104037 006038 03603A 14C077 048078 10A0B7 00E0B8 1440F7 0460F8 10C137 008138 14A177 04E178 250186 112187 076188",  // 544-559
    "03018A 070199 07C1AA 03C6F9 3FE6FE 032019 072032 310035 252036 104037 006038 034039 03603A 14C077 048078 10A0B7",  // 560-575
    "00E0B8 1440F7 0460F8 10C137 008138 14A177 04E178 250186 112187 076188 03018A 070199 07419C 07C1AA 13C6F9 3FE6FE",  // 576-591
    "032019 072032 310035 252036 104037 006038 03603A 14C077 048078 10A0B7 00E0B8 1440F7 0460F8 10C137 008138 14A177",  // 592-607
    "04E178 104184 006185 250186 112187 076188 03018A 070199 07C1AA 32431D 22831E 12631F 02A320 144321 046322 36439A",  // 608-623
    "26839B 16639C 06A39D 03C6F9 3FE6FE 032019 072032 310035 252036 104037 006038 034039 03603A 14C077 048078 10A0B7",  // 624-639
    "00E0B8 1440F7 0460F8 10C137 008138 14A177 04E178 250186 112187 076188 03018A 070199 07419C 07C1AA 13C6F9 07A6FD",  // 640-655
    "3FE6FE 032019 072032 310035 252036 104037 006038 034039 03603A 14C045 048046 10A053 00E054 144061 046062 10C06F",  // 656-671
    "008070 14A07D 04E07E 10408B 00608C 14C099 04809A 10A0A7 00E0A8 1440B5 0460B6 10C0C3 0080C4 14A0D1 04E0D2 1040DF",  // 672-687
    "0060E0 14C0ED 0480EE 10A0FB 00E0FC 144109 04610A 10C117 008118 14A125 04E126 104133 006134 14C141 048142 10A14F",  // 688-703
    "00E150 14415D 04615E 10C16B 00816C 14A179 04E17A 250186 112187 076188 03018A 070199 07419C 07C1AA 03C6F9 03A6FD",  // 704-719
    "3FE6FE 032019 072032 310035 252036 104037 006038 03603A 14C045 048046 10A053 00E054 144061 046062 10C06F 008070",  // 720-735
    "14A07D 04E07E 10408B 00608C 14C099 04809A 10A0A7 00E0A8 1440B5 0460B6 10C0C3 0080C4 14A0D1 04E0D2 1040DF 0060E0",  // 736-751
    "14C0ED 0480EE 10A0FB 00E0FC 144109 04610A 10C117 008118 14A125 04E126 104133 006134 14C141 048142 10A14F 00E150",  // 752-767
    "14415D 04615E 10C16B 00816C 14A179 04E17A 250186 112187 076188 03018A 070199 07C1AA 03C6F9 3FE6FE 032019 072032",  // 768-783
    "310035 252036 104037 006038 034039 03603A 14C045 048046 10A053 00E054 144061 046062 10C06F 008070 14A07D 04E07E",  // 784-799
    "10408B 00608C 14C099 04809A 10A0A7 00E0A8 1440B5 0460B6 10C0C3 0080C4 14A0D1 04E0D2 1040DF 0060E0 14C0ED 0480EE",  // 800-815
    "10A0FB 00E0FC 144109 04610A 10C117 008118 14A125 04E126 104133 006134 14C141 048142 10A14F 00E150 14415D 04615E",  // 816-831
    "10C16B 00816C 14A179 04E17A 250186 112187 076188 03018A 070199 07419C 07C1AA 03C6F9 3FE6FE 032019 072032 310035",  // 832-847
    "252036 104037 006038 03603A 14C045 048046 10A053 00E054 144061 046062 10C06F 14C045 14A07D 04E07E 10408B 00608C",  // 848-863
    "14C099 04809A 10A0A7 00E0A8 1440B5 0460B6 10C0C3 0080C4 14A0D1 04E0D2 1040DF 0060E0 14C0ED 0480EE 10A0FB 00E0FC",  // 864-879
    "144109 04610A 10C117 008118 14A125 04E126 104133 006134 14C141 048142 10A14F 00E150 14415D 04615E 10C16B 00816C",  // 880-895
    "14A179 04E17A 304185 206186 150187 012188 076189 03018A 070199 07C1AA 12431F 028320 144321 046322 164351 068352",  // 896-911
    "104399 00639A 14C3A7 0483A8 10A3B5 00E3B6 1443C3 0463C4 10C3D1 0083D2 14A3DF 04E3E0 03C6F9 3FE6FE 032019 072032",  // 912-927
    "310035 252036 104037 006038 034039 03603A 14C045 048046 10A053 00E054 144061 046062 10C06F 008070 14A07D 04E07E",  // 928-943
    "10408B 00608C 14C099 04809A 10A0A7 00E0A8 1440B5 0460B6 10C0C3 0080C4 14A0D1 04E0D2 1040DF 0060E0 14C0ED 0480EE",  // 944-959
    "10A0FB 00E0FC 144109 04610A 10C117 008118 14A125 04E126 104133 006134 14C141 048142 10A14F 00E150 14415D 04615E",  // 960-975
    "10C16B 00816C 14A179 04E17A 250186 112187 076188 03018A 070199 07419C 07C1AA 03C6F9 07A6FD 3FE6FE",  // 976-989
};
// clang-format on
const char* const kLowRuns[] = {
    "0: 0; 1: 8; 2-6: 0; 7: 3; 8-15: 0; 16: 3; 17: 30; 18: 6; 19: 2; 20: 1; 21-30: 0",
    "33: 0; 34: 5",
    "47: 9; 48: 0; 49: 6; 50-62: 0",
    "64-75: 0",
    "124-139: 0; 140: 56; 141: 3; 142: 0; 143: 56; 144: 5; 145: 2; 146-151: 0; 152: 1; 153: 0; "
    "154: 0; 155: 7; 156: 0; 157: 1; 158: 36; 159: 1; 160-163: 0",
    "158: 36; 159: 1",
    "76-123: 0",
};

void AddRuns(Lines& lines, const char* text) {
    std::istringstream entries(text);
    std::string entry;
    while (std::getline(entries, entry, ';')) {
        unsigned first, last, value;
        if (std::sscanf(entry.c_str(), "%u-%u: %u", &first, &last, &value) != 3) {
            std::sscanf(entry.c_str(), "%u: %u", &first, &value);
            last = first;
        }
        for (unsigned r = first; r <= last; ++r) {
            lines.push_back("S" + std::to_string(r) + "=" + std::to_string(value));
        }
    }
}

void AddHexRow(Lines& lines, unsigned& address, const char* row) {
    std::istringstream values(row);
    std::string value;
    while (values >> value) {
        lines.push_back("S" + std::to_string(address++) + "=" +
                        std::to_string(std::stoul(value, nullptr, 16)));
    }
}

// The 659 writes before the clock read.
Lines SetupWrites() {
    Lines lines;
    for (const char* runs : kSetupRuns) AddRuns(lines, runs);
    unsigned address = 384;
    AddHexRow(lines, address, kWideRuns[0]);
    address = 400;
    AddHexRow(lines, address, kWideRuns[1]);
    address = 512;
    for (const char* row : kTimingRows) AddHexRow(lines, address, row);
    for (const char* runs : kLowRuns) AddRuns(lines, runs);
    return lines;
}

Lines Tail(int selection) {
    switch (selection) {
        case 1:
            return {"S25=24", "S26=1", "S32=11", "S24=15"};
        case 2:
            return {"S25=42", "S26=1", "S17=24", "S19=15", "S32=11", "S24=15"};
        default:
            return {"S25=32", "S26=1", "S32=11", "S24=15"};
    }
}

class StartupSequenceTest : public SimDeviceTest {
  protected:
    SimDevice& Make(uint8_t clockSelection = 0) {
        sim::SimCameraOptions options;
        options.clockSelection = clockSelection;
        sim_ = std::make_unique<SimDevice>(options);
        return *sim_;
    }
};

TEST_F(StartupSequenceTest, DeviceStartSendsTheWholeSequenceInOrder) {
    const Lines setup = SetupWrites();
    ASSERT_EQ(setup.size(), 659u);
    struct Case {
        uint8_t camera;  // clock selection the camera reports
        int tail;        // the selection whose writes end the sequence
    };
    const Case cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {4, 0}, {5, 0}};
    for (const Case& c : cases) {
        SimDevice& sim = Make(c.camera);
        sim.AddAndStart();
        Lines expected = {"X0600", "L6=17", "L6=0"};
        expected.insert(expected.end(), setup.begin(), setup.end());
        expected.insert(expected.end(), {"R15", "<", "<"});
        Lines tail = Tail(c.tail);
        expected.insert(expected.end(), tail.begin(), tail.end());
        Lines wire = WireLog(sim.Records());
        ASSERT_EQ(wire.size(), expected.size()) << int{c.camera};
        for (size_t i = 0; i < wire.size(); ++i) {
            ASSERT_EQ(wire[i], expected[i]) << "camera clock " << int{c.camera} << ", packet " << i;
        }
        EXPECT_EQ(sim.device()->clock, c.camera == 3 ? 2 : c.camera);
    }
}

TEST_F(StartupSequenceTest, ShadowAndSensorHoldTheLastValueWritten) {
    SimDevice& sim = Make();
    sim.AddAndStart();
    const int32_t* shadow = sim.device()->registerShadow;
    struct Slot {
        int address;
        int32_t value;
    };
    const Slot slots[] = {{1, 8},          {158, 36},       {76, 0},         {24, 15},
                          {32, 11},        {512, 0x032019}, {859, 0x14C045}, {989, 0x3FE6FE},
                          {392, 0x3E042C}, {31, 0}};
    for (const Slot& s : slots) EXPECT_EQ(shadow[s.address], s.value) << s.address;
    // What the camera decoded from the packets is what the driver believes it wrote.
    for (int a = 0; a < kRegisterShadowSize; ++a) {
        ASSERT_EQ(sim.camera.SensorRegister(a), static_cast<uint32_t>(shadow[a])) << a;
    }
}

TEST_F(StartupSequenceTest, FailuresDoNotStopTheSequence) {
    struct Case {
        const char* name;
        sim::SimFault fault;
        size_t logicWrites;
        bool clockRead;  // the answers were whole
        Lines tail;
        uint32_t failedPackets;
    };
    using sim::SimFaultAction;
    const Case cases[] = {
        {"first pulse write fails",
         {sim::kCommandEndpoint, 2, SimFaultAction::Error},
         1,
         true,
         Tail(2),
         1},
        {"second pulse write fails",
         {sim::kCommandEndpoint, 3, SimFaultAction::Error},
         2,
         true,
         Tail(2),
         1},
        {"a sensor write fails",
         {sim::kCommandEndpoint, 100, SimFaultAction::Error},
         2,
         true,
         Tail(2),
         1},
        {"clock answer short",
         {sim::kResponseEndpoint, 2, SimFaultAction::Short, 8},
         2,
         false,
         Tail(0),
         1},
        {"command pipe stalls for good",
         {sim::kCommandEndpoint, 1, SimFaultAction::Stall},
         1,
         false,
         Tail(0),
         // Every command fails: start-up, pulse, 659 sensor writes, clock read, 4-write tail.
         1 + 1 + 659 + 1 + 4},
    };
    for (const Case& c : cases) {
        SimDevice& sim = Make(2);
        sim.camera.AddFault(c.fault);
        sim.AddAndStart();
        Lines wire = WireLog(sim.Records());
        size_t logic = 0, sensor = 0;
        for (const std::string& line : wire) {
            logic += line[0] == 'L';
            sensor += line[0] == 'S';
        }
        EXPECT_EQ(logic, c.logicWrites) << c.name;
        EXPECT_EQ(sensor, 659 + c.tail.size()) << c.name;
        EXPECT_EQ(Lines(wire.end() - static_cast<long>(c.tail.size()), wire.end()), c.tail)
            << c.name;
        EXPECT_EQ(sim.device()->clock, c.clockRead ? 2 : 0) << c.name;
        EXPECT_EQ(sim.device()->failedPackets.load(), c.failedPackets) << c.name;
    }
}

}  // namespace
}  // namespace bayercam
