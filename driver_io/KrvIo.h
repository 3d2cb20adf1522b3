#pragma once
// The user-mode side of the KrvIo kernel driver: installs and starts it as
// a kernel service, opens its device, and wraps each of its control codes
// in one small function. Both programs export these functions under these
// names for outside callers; inside the system the PCIe configuration
// access uses the driver set-up and the physical-memory functions.
//
// The handle and the 64-bit flag are process-wide and set by load/unload,
// which the programs call from their main thread around all PCIe traffic.
#include <cstdint>

extern "C" {

// Driver control.
int LoadKrvIODriver(void);
int UnloadKrvIODriver(void);
int SET_DEBUG_LEVEL(uint32_t level);

// Physical memory.
uint32_t MapKrvIO(uint32_t physicalAddress, uint32_t size);
uint64_t MapKrvIO64(uint32_t addressLow, uint32_t addressHigh, uint32_t size);
int UnmapKrvIO(uint32_t address, uint32_t size);
int UnmapKrvIO64(uint32_t addressLow, uint32_t addressHigh, uint32_t size);
int ReadMEM(uint32_t physicalAddress, uint32_t length, void* destination);
int ReadMEM64(uint32_t addressLow, uint32_t addressHigh, uint32_t length, void* destination);
int WriteMEM(uint32_t physicalAddress, uint32_t length, const void* source);

// I/O ports.
uint8_t ReadPortByte(uint32_t port);
uint16_t ReadPortWord(uint32_t port);
uint32_t ReadPortLong(uint32_t port);
int WritePortByte(uint32_t port, uint32_t value);
int WritePortWord(uint32_t port, uint32_t value);
int WritePortLong(uint32_t port, uint32_t value);

// PCI configuration access through the port pair 0xCF8/0xCFC.
uint8_t PCI_Read_BYTE(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg);
uint32_t PCI_Read_DWORD(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg);
int PCI_Write_Byte(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t value);
int PCI_Write_DWORD(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value);

// Command records and the configuration-space mailbox (status byte 0xE0,
// reply bytes 0xF0..0xF7).
int WriteCmd(uint32_t bus, uint32_t device, uint32_t function, uint32_t word0, uint32_t word1);
int ReadCMD(uint32_t bus, uint32_t device, uint32_t function, uint32_t reply[11]);
int WriteCmdALL(uint32_t bus, uint32_t device, uint32_t function, uint32_t command, uint32_t parameter, uint32_t word5,
                uint32_t word6, uint32_t word7, uint32_t word8);
int ReadCMDAll(uint32_t bus, uint32_t device, uint32_t function, uint32_t parameter, uint32_t word4, uint32_t word5,
               uint32_t word6, uint32_t word7, uint32_t reply[2]);
int Wait_Write_Ready(uint32_t bus, uint32_t device, uint32_t function);
int Wait_Read_Ready(uint32_t bus, uint32_t device, uint32_t function);
int KRVIO_Write_Command(uint32_t bus, uint32_t device, uint32_t function, uint32_t byte3, uint32_t byte4,
                        uint32_t word5, uint32_t word6, uint32_t word7, uint32_t word8);
int KRVIO_Read_Memory(uint32_t bus, uint32_t device, uint32_t function, uint32_t parameter, uint32_t length,
                      uint32_t word5, uint32_t word6, uint32_t word7, void* destination);

}  // extern "C"
