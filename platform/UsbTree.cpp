#include "platform/UsbTree.h"

namespace krv {

std::array<uint8_t, 18> UsbDeviceDescriptor::bytes() const
{
    auto lo = [](uint16_t v) { return static_cast<uint8_t>(v); };
    auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
    return {bLength,         bDescriptorType, lo(bcdUSB),     hi(bcdUSB),        bDeviceClass,  bDeviceSubClass,
            bDeviceProtocol, bMaxPacketSize0, lo(idVendor),   hi(idVendor),      lo(idProduct), hi(idProduct),
            lo(bcdDevice),   hi(bcdDevice),   iManufacturer,  iProduct,          iSerialNumber, bNumConfigurations};
}

UsbDeviceDescriptor UsbDeviceDescriptor::fromBytes(const uint8_t* b)
{
    auto word = [b](int i) { return static_cast<uint16_t>(b[i] | b[i + 1] << 8); };
    UsbDeviceDescriptor d;
    d.bLength = b[0];
    d.bDescriptorType = b[1];
    d.bcdUSB = word(2);
    d.bDeviceClass = b[4];
    d.bDeviceSubClass = b[5];
    d.bDeviceProtocol = b[6];
    d.bMaxPacketSize0 = b[7];
    d.idVendor = word(8);
    d.idProduct = word(10);
    d.bcdDevice = word(12);
    d.iManufacturer = b[14];
    d.iProduct = b[15];
    d.iSerialNumber = b[16];
    d.bNumConfigurations = b[17];
    return d;
}

}  // namespace krv
