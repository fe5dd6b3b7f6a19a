#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/kernel/pool.h"
#include "platform/usb_stack/usb_descriptors.h"

namespace bayercam {
namespace {

// The bytes in a pool block of exactly their size, so that any read past them hits a redzone.
class ExactBuffer {
  public:
    explicit ExactBuffer(const std::vector<uint8_t>& bytes)
        : block_(static_cast<uint8_t*>(ExAllocatePoolZero(bytes.size()))) {
        std::memcpy(block_, bytes.data(), bytes.size());
    }
    ~ExactBuffer() { ExFreePool(block_); }
    USB_CONFIGURATION_DESCRIPTOR* config() {
        return reinterpret_cast<USB_CONFIGURATION_DESCRIPTOR*>(block_);
    }

  private:
    uint8_t* block_;
};

std::vector<uint8_t> Interface(uint8_t number, uint8_t alternate, uint8_t endpoints) {
    return {9, 4, number, alternate, endpoints, 0xFF, 0, 0, 0};
}
std::vector<uint8_t> Endpoint(uint8_t address) {
    return {7, 5, address, 2, 0x00, 0x02, 0};
}

// A configuration with wTotalLength set to the real size unless `totalLength` says otherwise.
std::vector<uint8_t> Config(uint8_t interfaces, std::vector<std::vector<uint8_t>> parts,
                            int totalLength = -1) {
    std::vector<uint8_t> bytes = {9, 2, 0, 0, interfaces, 1, 0, 0x80, 250};
    for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
    uint16_t total =
        totalLength >= 0 ? static_cast<uint16_t>(totalLength) : static_cast<uint16_t>(bytes.size());
    bytes[2] = total & 0xFF;
    bytes[3] = total >> 8;
    return bytes;
}

std::vector<uint8_t> Camera() {
    return Config(1, {Interface(0, 0, 3), Endpoint(0x01), Endpoint(0x82), Endpoint(0x83)});
}

// Which interface numbers (alternate 0) a search from the start finds, and how many endpoints
// the walker sees behind each.
std::vector<std::pair<int, int>> FindAll(USB_CONFIGURATION_DESCRIPTOR* config) {
    std::vector<std::pair<int, int>> found;
    for (int number = 0; number <= 255; ++number) {
        USB_INTERFACE_DESCRIPTOR* interface =
            USBD_ParseConfigurationDescriptorEx(config, config, number, 0, -1, -1, -1);
        if (!interface) continue;
        const USB_ENDPOINT_DESCRIPTOR* endpoints[kMaxInterfaceEndpoints];
        found.emplace_back(
            number, InterfaceEndpoints(config, interface, endpoints, kMaxInterfaceEndpoints));
    }
    return found;
}

TEST(UsbDescriptors, WalkerStaysInsideMalformedDescriptors) {
    using Found = std::vector<std::pair<int, int>>;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Found expected;
    };
    std::vector<uint8_t> zeroLength = Camera();
    zeroLength[9 + 9] = 0;  // first endpoint's bLength
    std::vector<uint8_t> pastEnd = Camera();
    pastEnd[9 + 9 + 7 + 7] = 200;  // last endpoint runs past wTotalLength
    std::vector<uint8_t> oneByte = Camera();
    oneByte[9] = 1;
    std::vector<uint8_t> shortInterface = Config(1, {{5, 4, 0, 0, 3}, Endpoint(0x01)});
    std::vector<uint8_t> cut = Camera();
    cut.resize(cut.size() - 3);
    cut[2] = static_cast<uint8_t>(cut.size());
    const Case cases[] = {
        {"well formed", Camera(), {{0, 3}}},
        {"gap in interface numbers",
         Config(2, {Interface(0, 0, 1), Endpoint(0x01), Interface(2, 0, 1), Endpoint(0x82)}),
         {{0, 1}, {2, 1}}},
        {"alternate settings are not selected",
         Config(1, {Interface(0, 1, 1), Endpoint(0x01), Interface(0, 0, 0)}),
         {{0, 0}}},
        {"total length that cuts the last endpoint", cut, {{0, 2}}},
        {"total length below the header", Config(1, {Interface(0, 0, 0)}, 4), {}},
        {"zero-length descriptor ends the walk", zeroLength, {{0, 0}}},
        {"descriptor past the end ends the walk", pastEnd, {{0, 2}}},
        {"one-byte descriptor ends the walk", oneByte, {}},
        {"interface descriptor shorter than its structure", shortInterface, {}},
        {"no interface at all", Config(3, {}), {}},
        {"interface without endpoints", Config(1, {Interface(0, 0, 0)}), {{0, 0}}},
        {"declares more endpoints than present",
         Config(1, {Interface(0, 0, 3), Endpoint(0x01)}),
         {{0, 1}}},
    };
    for (const Case& c : cases) {
        ExactBuffer buffer(c.bytes);
        EXPECT_EQ(FindAll(buffer.config()), c.expected) << c.name;
    }
}

TEST(UsbDescriptors, SearchStartsWhereAsked) {
    ExactBuffer buffer(
        Config(2, {Interface(0, 0, 1), Endpoint(0x01), Interface(1, 0, 0), Interface(0, 0, 0)}));
    auto* config = buffer.config();
    USB_INTERFACE_DESCRIPTOR* first =
        USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1);
    ASSERT_NE(first, nullptr);
    auto* after = reinterpret_cast<uint8_t*>(first) + first->bLength;
    USB_INTERFACE_DESCRIPTOR* second =
        USBD_ParseConfigurationDescriptorEx(config, after, 0, 0, -1, -1, -1);
    ASSERT_NE(second, nullptr);
    EXPECT_GT(reinterpret_cast<uint8_t*>(second), after);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, after + 1000, 0, 0, -1, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, 0x12, -1, -1), nullptr);
    EXPECT_NE(USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, 0xFF, 0, 0), nullptr);
}

// Random bytes under a random total length: the walk must end and stay in bounds.
TEST(UsbDescriptors, RandomDescriptorsNeverEscapeTheirBuffer) {
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes(9 + random() % 120);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        // Bias toward plausible descriptors so that the walk goes deep.
        for (size_t i = 9; i + 1 < bytes.size(); i += 2 + random() % 9) {
            bytes[i] = static_cast<uint8_t>(random() % 12);
            bytes[i + 1] = random() % 2 ? 4 : 5;
        }
        uint16_t total = static_cast<uint16_t>(random() % (bytes.size() + 1));
        bytes[2] = total & 0xFF;
        bytes[3] = total >> 8;
        ExactBuffer buffer(bytes);
        FindAll(buffer.config());
    }
}

TEST(UsbDescriptors, ConfigurationRequestHoldsOneBlockPerInterface) {
    ExactBuffer buffer(Config(2, {Interface(0, 0, 3), Endpoint(0x01), Endpoint(0x82),
                                  Endpoint(0x83), Interface(1, 0, 0)}));
    auto* config = buffer.config();
    USBD_INTERFACE_LIST_ENTRY list[3] = {
        {USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1), nullptr},
        {USBD_ParseConfigurationDescriptorEx(config, config, 1, 0, -1, -1, -1), nullptr},
        {nullptr, nullptr}};
    int64_t live = pool::LiveAllocations();
    URB* urb = USBD_CreateConfigurationRequestEx(config, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(urb->UrbHeader.Length, offsetof(_URB_SELECT_CONFIGURATION, Interface) +
                                         InterfaceInformationSize(3) + InterfaceInformationSize(0));
    EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, config);
    ASSERT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
    EXPECT_EQ(list[0].Interface->NumberOfPipes, 3u);
    EXPECT_EQ(list[0].Interface->Length, InterfaceInformationSize(3));
    EXPECT_EQ(list[0].Interface->Pipes[2].MaximumTransferSize, USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE);
    ASSERT_NE(list[1].Interface, nullptr);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(list[1].Interface),
              reinterpret_cast<uint8_t*>(list[0].Interface) + InterfaceInformationSize(3));
    EXPECT_EQ(list[1].Interface->InterfaceNumber, 1);
    EXPECT_EQ(list[1].Interface->NumberOfPipes, 0u);
    ExFreePool(urb);

    pool::FailNth(1);
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(config, list), nullptr);
    pool::Reset();
    EXPECT_EQ(pool::LiveAllocations(), live);
}

TEST(UsbDescriptors, ConfigurationRequestRefusesImpossibleEndpointCounts) {
    ExactBuffer buffer(Config(1, {Interface(0, 0, 31)}));
    auto* config = buffer.config();
    USBD_INTERFACE_LIST_ENTRY list[2] = {
        {USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1), nullptr},
        {nullptr, nullptr}};
    ASSERT_NE(list[0].InterfaceDescriptor, nullptr);
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(config, list), nullptr);
}

}  // namespace
}  // namespace bayercam
