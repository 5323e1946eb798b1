// The ZV Secure Disk controller and its USB bridge as named constants: every
// command code, register value, offset and limit that DATASHEET.md writes
// down, so the code never spells a bare number the datasheet owns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvsim {

// ---------------------------------------------------------------- geometry
constexpr uint32_t kSectorSize = 512;
// The public area is small enough for any host to see: at most this many
// sectors. The private area is always larger.
constexpr uint64_t kPublicMaxSectors = 0x80000;
constexpr uint64_t kDefaultPublicBytes = 16ull << 20;    // 16 MiB
constexpr uint64_t kDefaultPrivateBytes = 512ull << 20;  // 512 MiB, sparse
constexpr uint64_t kMinAreaBytes = 1ull << 20;           // 1 MiB
constexpr uint64_t kMaxPrivateBytes = 2ull << 40;        // 2 TiB

// ------------------------------------------------------------ USB bridge
namespace scsi {
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kRead16 = 0x88;
constexpr uint8_t kWrite16 = 0x8A;
constexpr uint8_t kServiceActionIn16 = 0x9E;
constexpr uint8_t kReadCapacity16Action = 0x10;  // service action of 0x9E
constexpr uint8_t kAtaPassThrough12 = 0xA1;
constexpr uint8_t kVendorReset = 0xEE;

constexpr size_t kCdb6 = 6;
constexpr size_t kCdb10 = 10;
constexpr size_t kCdb12 = 12;
constexpr size_t kCdb16 = 16;

// The vendor reset block, all 16 bytes; every byte not listed is zero.
constexpr uint8_t kVendorResetCdb[kCdb16] = {
    0xEE, 0xB0, 0x00, 0x00, 0x00, 0x00, 0x62, 0x00,
    0x04, 0x00, 0x00, 0x00, 0xAA, 0x99, 0x00, 0x00};
// Behind the kernel's target layer a vendor-group block (0xC0-0xFF) arrives
// with the group's length, 10 bytes: the reset block is then known by these.
constexpr size_t kVendorResetCutLen = kCdb10;

// Status bytes.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;

// Sense keys.
constexpr uint8_t kKeyNoSense = 0x00;
constexpr uint8_t kKeyRecoveredError = 0x01;
constexpr uint8_t kKeyMediumError = 0x03;
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kKeyAbortedCommand = 0x0B;

// Additional sense code / qualifier pairs.
struct Asc {
    uint8_t asc;
    uint8_t ascq;
};
constexpr Asc kAscNone = {0x00, 0x00};
constexpr Asc kAscAtaInfoAvailable = {0x00, 0x1D};
constexpr Asc kAscWriteError = {0x0C, 0x00};
constexpr Asc kAscUnrecoveredReadError = {0x11, 0x00};
constexpr Asc kAscInvalidOpcode = {0x20, 0x00};
constexpr Asc kAscLbaOutOfRange = {0x21, 0x00};
constexpr Asc kAscInvalidFieldInCdb = {0x24, 0x00};
constexpr Asc kAscLunNotSupported = {0x25, 0x00};

// Sense data formats.
constexpr uint8_t kSenseFixed = 0x70;
constexpr uint8_t kSenseDescriptor = 0x72;
constexpr size_t kFixedSenseLen = 18;
constexpr size_t kDescriptorHeaderLen = 8;
constexpr uint8_t kAtaReturnDescriptor = 0x09;
constexpr uint8_t kAtaReturnDescriptorAddLen = 0x0C;
constexpr size_t kAtaReturnDescriptorLen = 14;

// INQUIRY.
constexpr uint8_t kPeripheralDisk = 0x00;
constexpr uint8_t kRemovableBit = 0x80;
constexpr uint8_t kInquiryVersionSpc4 = 0x06;
constexpr uint8_t kInquiryResponseFormat = 0x02;
constexpr size_t kStandardInquiryLen = 36;
constexpr const char *kVendor = "ZV";            // 8 bytes, space padded
constexpr const char *kProduct = "Secure Disk";  // 16 bytes, space padded
constexpr const char *kRevision = "1.00";        // 4 bytes
constexpr uint8_t kVpdSupportedPages = 0x00;
constexpr uint8_t kVpdUnitSerial = 0x80;
constexpr uint8_t kVpdDeviceId = 0x83;

constexpr size_t kReadCapacity10Len = 8;
constexpr size_t kReadCapacity16Len = 32;

// Largest data phase the bridge moves in one command (its queue limit).
constexpr uint32_t kMaxTransferSectors = 2048;
constexpr uint32_t kMaxTransferBytes = kMaxTransferSectors * kSectorSize;

// ATA PASS-THROUGH field layout (byte 1 and byte 2 of both CDBs).
constexpr uint8_t kPtExtendBit = 0x01;         // byte 1, 16-byte CDB only
constexpr int kPtProtocolShift = 1;            // byte 1 bits 4..1
constexpr uint8_t kPtProtocolMask = 0x0F;
constexpr int kPtMultipleShift = 5;            // byte 1 bits 7..5
constexpr uint8_t kPtCkCondBit = 0x20;         // byte 2
constexpr uint8_t kPtTTypeBit = 0x10;          // byte 2
constexpr uint8_t kPtTDirBit = 0x08;           // byte 2: 1 = from device
constexpr uint8_t kPtByteBlockBit = 0x04;      // byte 2
constexpr uint8_t kPtTLengthMask = 0x03;       // byte 2
constexpr uint8_t kPtTLengthNone = 0;
constexpr uint8_t kPtTLengthFeatures = 1;
constexpr uint8_t kPtTLengthSectorCount = 2;
constexpr uint8_t kPtTLengthTpsiu = 3;
}  // namespace scsi

// ------------------------------------------------------------ controller
namespace ata {
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint8_t kSmart = 0xB0;
constexpr uint8_t kReadDma = 0xC8;
constexpr uint8_t kReadDmaExt = 0x25;
constexpr uint8_t kWriteDma = 0xCA;
constexpr uint8_t kWriteDmaExt = 0x35;
constexpr uint8_t kSetPassword = 0xFA;
constexpr uint8_t kVerifyPassword = 0xFB;

// SMART subcommands (feature register) and its register signature.
constexpr uint8_t kSmartReadData = 0xD0;
constexpr uint8_t kSmartEnableOperations = 0xD8;
constexpr uint8_t kSmartDisableOperations = 0xD9;
constexpr uint8_t kSmartReturnStatus = 0xDA;
constexpr uint8_t kSmartLbaMid = 0x4F;
constexpr uint8_t kSmartLbaHigh = 0xC2;
constexpr uint8_t kSmartFailLbaMid = 0xF4;   // threshold exceeded
constexpr uint8_t kSmartFailLbaHigh = 0x2C;

// Pass-through protocols.
constexpr uint8_t kProtoHardReset = 0;
constexpr uint8_t kProtoSoftReset = 1;
constexpr uint8_t kProtoNonData = 3;
constexpr uint8_t kProtoPioIn = 4;
constexpr uint8_t kProtoPioOut = 5;
constexpr uint8_t kProtoDma = 6;
constexpr uint8_t kProtoUdmaIn = 10;
constexpr uint8_t kProtoUdmaOut = 11;
constexpr uint8_t kProtoReturnResponse = 15;

// Status and error registers.
constexpr uint8_t kStatusErr = 0x01;
constexpr uint8_t kStatusDrdy = 0x40;
constexpr uint8_t kStatusGood = 0x50;     // DRDY | DSC
constexpr uint8_t kStatusAborted = 0x51;  // DRDY | DSC | ERR
constexpr uint8_t kErrorAbort = 0x04;

// Vendor sector space, selected by the feature register of the DMA commands.
constexpr uint16_t kVendorFeature = 0x5A;
constexpr uint64_t kPromptSectorLba = 0x10;

// SET / VERIFY PASSWORD register signature.
constexpr uint32_t kPasswordLba = 0x5A5653;
constexpr uint8_t kPasswordLbaLow = 0x53;
constexpr uint8_t kPasswordLbaMid = 0x56;
constexpr uint8_t kPasswordLbaHigh = 0x5A;
constexpr uint16_t kPasswordSectorCount = 1;
constexpr uint16_t kPasswordFeature = 0;
constexpr size_t kPasswordMaxLen = 32;

constexpr int kDefaultTries = 5;
constexpr int kMinTries = 1;
constexpr int kMaxTries = 255;

// IDENTIFY DEVICE page.
namespace id {
constexpr size_t kGeneralConfigWord = 0;
constexpr uint16_t kGeneralConfig = 0x0080;   // removable media device
constexpr size_t kSerialOffset = 20;          // bytes 20..39
constexpr size_t kSerialLen = 20;
constexpr size_t kFirmwareOffset = 46;        // bytes 46..53
constexpr size_t kFirmwareLen = 8;
constexpr const char *kFirmware = "1.00";
constexpr size_t kModelOffset = 54;           // bytes 54..93
constexpr size_t kModelLen = 40;
constexpr const char *kModel = "ZV Secure Disk";
constexpr size_t kCapabilitiesWord = 49;
constexpr uint16_t kCapLba = 0x0200;          // bit 9
constexpr uint16_t kCapDma = 0x0100;          // bit 8
constexpr size_t kValidityWord = 53;
constexpr uint16_t kValidity = 0x0006;        // words 64-70 and 88 valid
constexpr size_t kLba28Word = 60;             // words 60-61
constexpr uint32_t kLba28Max = 0x0FFFFFFF;
constexpr size_t kMultiwordDmaWord = 63;
constexpr uint16_t kMultiwordDma = 0x0007;
constexpr size_t kMajorVersionWord = 80;
constexpr uint16_t kMajorVersion = 0x01F0;    // ATA-4 .. ATA8-ACS
constexpr size_t kCommandSet1Word = 82;
constexpr uint16_t kCommandSet1 = 0x0001;     // SMART feature set
constexpr size_t kCommandSet2Word = 83;
constexpr uint16_t kCommandSet2 = 0x4400;     // bit 14 one, bit 10 48-bit
constexpr size_t kCommandSet3Word = 84;
constexpr uint16_t kCommandSet3 = 0x4000;
constexpr size_t kEnabled1Word = 85;
constexpr uint16_t kEnabledSmart = 0x0001;
constexpr size_t kEnabled2Word = 86;
constexpr uint16_t kEnabled48Bit = 0x0400;    // bit 10
constexpr size_t kEnabled3Word = 87;
constexpr uint16_t kEnabled3 = 0x4000;
constexpr size_t kUltraDmaWord = 88;
constexpr uint16_t kUltraDma = 0x003F;
constexpr size_t kLba48Word = 100;            // words 100-103
constexpr size_t kSectorSizeWord = 106;
constexpr uint16_t kSectorSizeInfo = 0x4000;  // 512-byte logical sectors
constexpr size_t kSignatureWord = 131;
constexpr uint16_t kSignature = 0x5344;       // byte 262 0x44, byte 263 0x53
constexpr size_t kTriesLeftByte = 442;
constexpr size_t kPasswordSetByte = 443;
constexpr size_t kIntegrityWord = 255;
constexpr uint8_t kIntegritySignature = 0xA5;
}  // namespace id

// SMART READ DATA page.
namespace smart {
constexpr uint16_t kRevision = 0x0010;
constexpr size_t kFirstAttributeOffset = 2;
constexpr size_t kAttributeLen = 12;
constexpr size_t kMaxAttributes = 30;
constexpr size_t kOfflineStatusOffset = 362;
constexpr size_t kSelfTestStatusOffset = 363;
constexpr size_t kCapabilityOffset = 368;   // 16-bit
constexpr uint16_t kCapability = 0x0003;
constexpr size_t kErrorLoggingOffset = 370;
constexpr size_t kChecksumOffset = 511;

constexpr uint8_t kReadErrorRate = 0x01;
constexpr uint8_t kReallocatedSectors = 0x05;
constexpr uint8_t kPowerOnHours = 0x09;
constexpr uint8_t kPowerCycles = 0x0C;
constexpr uint8_t kTemperature = 0xC2;
constexpr uint8_t kLbasWritten = 0xF1;
constexpr uint8_t kLbasRead = 0xF2;
constexpr int kDefaultTemperature = 35;
}  // namespace smart
}  // namespace ata

// ------------------------------------------------------------ NVMe disk
// The NVMe kind: one namespace of 512-byte blocks behind a controller that
// answers the admin and I/O commands of DATASHEET.md chapter 5.
namespace nvme {
// Admin command set.
constexpr uint8_t kAdminGetLogPage = 0x02;
constexpr uint8_t kAdminIdentify = 0x06;
constexpr uint8_t kAdminFirmwareDownload = 0x11;
constexpr uint8_t kAdminSysInfo = 0xC2;
constexpr uint8_t kAdminVendorWrite = 0xF9;
constexpr uint8_t kAdminVendorRead = 0xFA;
constexpr uint8_t kAdminVendorExecute = 0xFC;
// I/O command set.
constexpr uint8_t kCmdWrite = 0x01;
constexpr uint8_t kCmdRead = 0x02;
constexpr uint8_t kCmdCompare = 0x05;

// Status field as the host sees it: SCT << 8 | SC, DNR set on every error.
constexpr uint16_t kSuccess = 0x0000;
constexpr uint16_t kDnr = 0x4000;
constexpr uint16_t kInvalidOpcode = 0x0001;
constexpr uint16_t kInvalidField = 0x0002;
constexpr uint16_t kDataTransferError = 0x0004;
constexpr uint16_t kInvalidNamespace = 0x000B;
constexpr uint16_t kLbaOutOfRange = 0x0080;
constexpr uint16_t kInvalidLogPage = 0x0109;
constexpr uint16_t kWriteFault = 0x0280;
constexpr uint16_t kUnrecoveredReadError = 0x0281;

constexpr uint32_t kBlockSize = 512;
constexpr uint32_t kMaxTransferBytes = 1u << 20;   // MDTS 8: 256 pages of 4 KiB
constexpr uint32_t kNsidAll = 0xFFFFFFFF;
constexpr uint32_t kDefaultNsid = 1;
constexpr uint32_t kMaxNsid = 1024;

// Identify (CNS in cdw10 bits 7..0).
constexpr size_t kIdentifyLen = 4096;
constexpr uint8_t kCnsNamespace = 0x00;
constexpr uint8_t kCnsController = 0x01;
constexpr uint8_t kCnsActiveNamespaces = 0x02;
namespace id {
constexpr size_t kVid = 0;              // 16-bit
constexpr size_t kSsvid = 2;            // 16-bit
constexpr size_t kSerial = 4;           // 20 bytes ASCII, space padded
constexpr size_t kSerialLen = 20;
constexpr size_t kModel = 24;           // 40 bytes
constexpr size_t kModelLen = 40;
constexpr size_t kFirmware = 64;        // 8 bytes
constexpr size_t kFirmwareLen = 8;
constexpr size_t kMdts = 77;
constexpr size_t kCntlid = 78;          // 16-bit
constexpr size_t kVersion = 80;         // 32-bit
constexpr size_t kVendorCapacity = 120; // 32-bit, in the FGUID field
constexpr size_t kOacs = 256;           // 16-bit
constexpr size_t kFrmw = 260;
constexpr size_t kLpa = 261;
constexpr size_t kSqes = 512;
constexpr size_t kCqes = 513;
constexpr size_t kNn = 516;             // 32-bit

constexpr uint16_t kVendorId = 0x5A56;
constexpr const char *kModelText = "ZV NVMe Disk";
constexpr const char *kFirmwareText = "1.00";
constexpr uint8_t kMdtsValue = 8;
constexpr uint16_t kControllerId = 1;
constexpr uint32_t kVersionValue = 0x00010400;   // NVMe 1.4
constexpr uint16_t kOacsFirmware = 0x0004;       // download and commit
constexpr uint8_t kFrmwOneSlot = 0x02;
constexpr uint8_t kSqesValue = 0x66;
constexpr uint8_t kCqesValue = 0x44;

// Identify Namespace.
constexpr size_t kNsze = 0;             // 64-bit
constexpr size_t kNcap = 8;
constexpr size_t kNuse = 16;
constexpr size_t kNlbaf = 25;
constexpr size_t kFlbas = 26;
constexpr size_t kLbaf0 = 128;          // MS 16-bit, LBADS, RP
constexpr uint8_t kLbads512 = 9;
}  // namespace id

constexpr uint8_t kLpaSmartPerNamespace = 0x01;
constexpr uint8_t kDefaultLpa = kLpaSmartPerNamespace;

// Get Log Page: LID cdw10 7..0, NUMDL cdw10 31..16, NUMDU cdw11 15..0,
// offset cdw12/cdw13.
constexpr uint8_t kLogError = 0x01;
constexpr uint8_t kLogSmart = 0x02;
constexpr uint8_t kLogFirmwareSlot = 0x03;
constexpr size_t kLogLen = 512;
namespace smart {
constexpr size_t kTemperature = 1;      // 16-bit, kelvin
constexpr size_t kAvailableSpare = 3;
constexpr size_t kSpareThreshold = 4;
constexpr size_t kPercentUsed = 5;
constexpr size_t kUnitsRead = 32;       // 128-bit, thousands of 512-byte units
constexpr size_t kUnitsWritten = 48;
constexpr size_t kReadCommands = 64;
constexpr size_t kWriteCommands = 80;
constexpr size_t kPowerCycles = 112;
constexpr size_t kPowerOnHours = 128;
constexpr int kKelvin = 273;
constexpr uint8_t kSpare = 100;
constexpr uint8_t kThreshold = 10;
constexpr uint64_t kUnitBlocks = 1000;
}  // namespace smart
constexpr size_t kFirmwareSlotAfi = 0;
constexpr uint8_t kFirmwareSlotActive = 0x01;
constexpr size_t kFirmwareSlot1 = 8;    // 8 bytes ASCII

// Firmware Image Download: NUMD cdw10 (zero-based), OFST cdw11 (dwords).
constexpr uint32_t kFirmwareMaxBytes = 1u << 20;

// Vendor commands: cdw14 carries the vendor signature "P74h".
constexpr uint32_t kVendorSignature = 0x68343750;
constexpr uint32_t kMailboxMaxBytes = 64u << 10;
constexpr size_t kSysInfoLen = 2048;
constexpr uint32_t kSysInfoNumd = kSysInfoLen / 4 - 1;
constexpr size_t kSysInfoSignature = 0;
constexpr size_t kSysInfoRomVersion = 4;
constexpr size_t kSysInfoFeature = 8;
constexpr size_t kSysInfoStatus = 12;
constexpr size_t kSysInfoFwType = 2025;
constexpr uint32_t kRomVersion = 0x00010000;
constexpr uint8_t kFwTypeValue = 0x01;
}  // namespace nvme

// Re-enumeration after the vendor reset.
constexpr int kDefaultReenumMs = 1000;
constexpr int kMaxReenumMs = 3600 * 1000;
constexpr int kMaxResetMs = 600 * 1000;   // the longest answer time a vendor reset may be given

}  // namespace zvsim
