#include <gtest/gtest.h>

#include <string>

#include "discovery/shared_driver.h"
#include "host/machine.h"

using namespace winhost;

namespace {

const u16 kUsb = u"SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const u16 kClasses = u"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const u16 kOther = kUsb + u"VID_16C0&PID_05DC\\5&2f&0&3";
const u16 kUsbClass = kClasses + u"{36fc9e60-c465-11cf-8056-444553540000}";

class SharedDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset();
        /* What every machine has: devices and classes using other
         * drivers, and the device's own instances, which run libusb0 in
         * older installations. */
        SeedValue(kUsb + u"ROOT_HUB30\\4&1&0", u"Service", u"USBHUB3");
        SeedValue(kUsbClass, u"Class", u"USB");
        SeedValue(kUsbClass + u"\\0000", u"UpperFilters", u"libusb0");
        SeedValue(kUsb + u"VID_3C7E&PID_51B8\\5&1", u"Service", u"libusb0");
    }
    void TearDown() override { EXPECT_EQ(OpenHandleCount(), 0); }
};

/* REG_MULTI_SZ data of names. */
std::string MultiSz(std::initializer_list<const char16_t *> names)
{
    std::string out;
    for (auto *n : names)
        out += Utf16Le(n) + std::string(2, '\0');
    return out + std::string(2, '\0');
}

} // namespace

TEST_F(SharedDriver, NothingElseUsesLibusb0OnAMachineWithTheDeviceAlone)
{
    EXPECT_FALSE(Libusb0Shared());
    /* Every view read, the 32-bit one first, and nothing changed. */
    auto opens = CallsOf("RegOpenKeyExW");
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens.front().view, "32");
    EXPECT_EQ(opens.back().view, "64");
    for (auto &name : CallNames())
        EXPECT_EQ(name.find("Delete"), std::string::npos) << name;
}

TEST_F(SharedDriver, AMachineWithoutUsbDevicesOrClassesCountsAsNotShared)
{
    Reset();
    EXPECT_FALSE(Libusb0Shared());
}

TEST_F(SharedDriver, AnotherDeviceRunningLibusb0AsItsServiceShares)
{
    SeedValue(kOther, u"Service", u"LibUsb0");
    EXPECT_TRUE(Libusb0Shared());
}

TEST_F(SharedDriver, AnotherDeviceWithLibusb0AsAFilterShares)
{
    SeedValueBytes(kOther, u"LowerFilters", REG_MULTI_SZ,
                   MultiSz({u"usbfilter", u"libusb0"}));
    EXPECT_TRUE(Libusb0Shared());
    Reset();
    SeedValueBytes(kOther, u"UPPERFILTERS", REG_MULTI_SZ,
                   MultiSz({u"LIBUSB0"}));
    EXPECT_TRUE(Libusb0Shared());
}

TEST_F(SharedDriver, ASetupClassWithLibusb0AsAFilterShares)
{
    SeedValueBytes(kUsbClass, u"UpperFilters", REG_MULTI_SZ,
                   MultiSz({u"libusb0"}));
    EXPECT_TRUE(Libusb0Shared());
}

/* Names that only begin or end like it, and other values naming it. */
TEST_F(SharedDriver, OnlyTheWholeNameInTheServiceOrFilterValuesCounts)
{
    SeedValue(kOther, u"Service", u"libusb0x");
    SeedValue(kOther, u"DeviceDesc", u"libusb0");
    SeedValueBytes(kOther, u"UpperFilters", REG_MULTI_SZ,
                   MultiSz({u"libusb", u"xlibusb0"}));
    SeedValue(kUsbClass, u"Service", u"libusb0");
    EXPECT_FALSE(Libusb0Shared());
}

TEST_F(SharedDriver, TheDevicesOwnInterfacesInAnyCaseDoNotShare)
{
    SeedValue(kUsb + u"VID_3C7E&PID_51B8&MI_00\\6&1", u"Service", u"libusb0");
    SeedValue(kUsb + u"vid_3c7e&pid_51b8&mi_01\\6&2", u"LowerFilters",
              u"libusb0");
    SeedValue(kUsb + u"vid_3c7e&pid_51b8\\5&2", u"Service", u"libusb0");
    EXPECT_FALSE(Libusb0Shared());
    /* Another product of the same vendor is another device. */
    SeedValue(kUsb + u"VID_3C7E&PID_51B9\\5&3", u"Service", u"libusb0");
    EXPECT_TRUE(Libusb0Shared());
}

/* Keeping the driver is the safe side. */
TEST_F(SharedDriver, AKeyThatCannotBeReadCountsAsShared)
{
    FailCallOn("RegOpenKeyExW", kOther, ERROR_ACCESS_DENIED);
    SeedValue(kOther, u"Service", u"winusb");
    EXPECT_TRUE(Libusb0Shared());

    Reset();
    FailCall("RegEnumValueW", ERROR_KEY_DELETED);
    SeedValue(kOther, u"Service", u"winusb");
    EXPECT_TRUE(Libusb0Shared());

    Reset();
    FailCallOn("RegOpenKeyExW", u"SYSTEM\\CurrentControlSet\\Control\\Class",
               ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Libusb0Shared());
}

/* On XP the Enum keys refuse 0xB (see Machine::enumSystemOnly): read with
 * KEY_READ, they are walked instead of counting as unreadable. */
TEST_F(SharedDriver, OnXpTheEnumKeysAreWalkedWithKeyRead)
{
    machine().osMajor = 5;
    machine().enumSystemOnly = true;
    EXPECT_FALSE(Libusb0Shared());
    SeedValue(kOther, u"Service", u"libusb0");
    EXPECT_TRUE(Libusb0Shared());
}

/* Service or filter data longer than the value buffer (1024 units). */
TEST_F(SharedDriver, AServiceOrFilterValueTooLongToReadCountsAsShared)
{
    SeedValueBytes(kOther, u"UpperFilters", REG_MULTI_SZ,
                   MultiSz({std::u16string(1100, u'f').c_str()}));
    EXPECT_TRUE(Libusb0Shared());

    /* Long data of another value does not count. */
    Reset();
    SeedValue(kOther, u"FriendlyName", std::u16string(1100, u'n'));
    EXPECT_FALSE(Libusb0Shared());
}

/* Enum\USB, the device key, its instances and Control\Class: 4096 keys
 * in one view are read, one more counts as shared. */
TEST_F(SharedDriver, AWalkCutShortByItsBoundCountsAsShared)
{
    Reset();
    SeedKey(kClasses);
    for (int i = 0; i < 4093; i++)
        SeedKey(kUsb + u"VID_16C0&PID_05DC\\" + FromUtf8(std::to_string(i)));
    EXPECT_FALSE(Libusb0Shared());
    SeedKey(kUsb + u"VID_16C0&PID_05DC\\x");
    EXPECT_TRUE(Libusb0Shared());
}
