#include "platform/bench/BenchUsbIdentity.h"

#include <cctype>

#include "platform/bench/ChipCatalog.h"
#include "platform/bench/bridge/Images.h"

namespace krv::bench {

namespace {

std::string textAt(const Bytes& config, size_t offset, size_t width)
{
    std::string text;
    for (size_t i = 0; i < width && offset + i < config.size() && config[offset + i] != 0xFF; ++i)
        text += static_cast<char>(config[offset + i]);
    return text;
}

uint16_t word(const Bytes& config, size_t offset)
{
    return static_cast<uint16_t>(config[offset] | config[offset + 1] << 8);
}

// The serial as the firmware writes it into its serial-number string.
std::string usbSerialText(const std::string& serial, UsbSerialForm form)
{
    switch (form) {
    case UsbSerialForm::Text: return serial;
    case UsbSerialForm::Lower: {
        std::string text = serial;
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }
    case UsbSerialForm::Hex: return toHex(reinterpret_cast<const uint8_t*>(serial.data()), serial.size());
    }
    return serial;
}

void setIndexes(UsbIdentity& id)
{
    id.descriptor.iManufacturer = id.manufacturer.empty() ? 0 : 1;
    id.descriptor.iProduct = id.product.empty() ? 0 : 2;
    id.descriptor.iSerialNumber = id.serial.empty() || id.strings == UsbStrings::NoSerial ? 0 : 3;
}

void setSpeed(UsbIdentity& id, UsbDeviceSpeed speed, bool plus)
{
    id.speed = speed;
    id.superSpeedPlus = plus;
    bool super = speed == UsbDeviceSpeed::Super;
    id.descriptor.bcdUSB = super ? 0x0320 : 0x0210;
    id.descriptor.bMaxPacketSize0 = super ? 9 : 64;
}

}  // namespace

UsbIdentity bridgeUsbIdentity(const Bridge& bridge)
{
    UsbIdentity id;
    id.strings = bridge.settings().usbStrings;
    id.descriptor.bNumConfigurations = 1;
    const LinkModel& link = bridge.link();
    const std::string& speed = bridge.settings().speed;
    if (link.kind == LinkKind::Usb2)
        setSpeed(id, speed == "Full" ? UsbDeviceSpeed::Full : UsbDeviceSpeed::High, false);
    else
        setSpeed(id, UsbDeviceSpeed::Super, !(link.kind == LinkKind::Usb3 && speed == "Gen1x1"));
    const Bytes& config = bridge.runningUsb3Config();
    if (configIntact(config, image::kUsb3Mark)) {
        id.serial = usbSerialText(bridge.serialNumber(), bridge.settings().usbSerial);
        id.manufacturer = textAt(config, 24, 36);
        id.product = textAt(config, 68, 32);
        id.descriptor.idVendor = word(config, 116);
        id.descriptor.idProduct = word(config, 118);
        id.descriptor.bcdDevice = word(config, 120);
    } else {
        const ChipModel& chip = bridge.chip();
        id.manufacturer = "KRV";
        id.product = std::string(chip.name) + " Bridge";
        id.descriptor.idVendor = kPcieVendorId;
        id.descriptor.idProduct = chip.pcieDeviceId ? chip.pcieDeviceId
                                : chip.family == ChipFamily::Krv752x ? 0x7520 : 0x6390;
        id.descriptor.bcdDevice = 0x0100;
    }
    setIndexes(id);
    return id;
}

UsbIdentity plainUsbDiskIdentity()
{
    UsbIdentity id;
    id.manufacturer = "Bench Media";
    id.product = "USB Flash Disk";
    id.serial = "BM20240601A0C3F9";
    id.descriptor.idVendor = 0x3A5F;
    id.descriptor.idProduct = 0x5581;
    id.descriptor.bcdDevice = 0x0100;
    id.descriptor.bNumConfigurations = 1;
    setSpeed(id, UsbDeviceSpeed::Super, false);
    setIndexes(id);
    return id;
}

UsbIdentity hubUsbIdentity()
{
    UsbIdentity id;
    id.manufacturer = "Bench Hubs";
    id.product = "USB3.2 Hub";
    id.descriptor.idVendor = 0x3A5F;
    id.descriptor.idProduct = 0x0626;
    id.descriptor.bcdDevice = 0x9223;
    id.descriptor.bDeviceClass = 0x09;  // hub
    id.descriptor.bDeviceProtocol = 0x03;
    id.descriptor.bNumConfigurations = 1;
    setSpeed(id, UsbDeviceSpeed::Super, true);
    setIndexes(id);
    return id;
}

bool usbStringDescriptor(const UsbIdentity& id, uint8_t index, uint16_t language, std::vector<uint8_t>& out)
{
    if (id.strings == UsbStrings::NoLanguages)
        return false;
    if (index == 0) {
        out = {4, usbdesc::kString, static_cast<uint8_t>(kUsEnglish), static_cast<uint8_t>(kUsEnglish >> 8)};
        return true;
    }
    if (id.strings == UsbStrings::Unreadable || language != kUsEnglish)
        return false;
    const std::string* text = index == id.descriptor.iManufacturer && index ? &id.manufacturer
                            : index == id.descriptor.iProduct && index      ? &id.product
                            : index == id.descriptor.iSerialNumber && index ? &id.serial
                                                                            : nullptr;
    if (!text)
        return false;
    size_t units = std::min<size_t>(text->size(), 126);
    out.assign(2 + 2 * units, 0);
    out[0] = static_cast<uint8_t>(out.size());
    out[1] = usbdesc::kString;
    for (size_t i = 0; i < units; ++i)
        out[2 + 2 * i] = static_cast<uint8_t>((*text)[i]);
    return true;
}

}  // namespace krv::bench
