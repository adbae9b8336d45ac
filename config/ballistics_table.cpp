// The model table: 56 machine models and the end marker, in dialog order.
#include "config/ballistics.h"

const char* const szMachVendors[10] = {
    "Sony",    "Panasonic", "JVC",   "Hitachi",          "Pioneer",
    "Orvanta", "Adrian",    "Ampex", "Sundance Digital", nullptr};

// clang-format off
const VTRBALLISTICS vtrBallistics[kModelRows] = {
    // Rec InsVid Auto  EditIn EditOut EEIn EEOut  Code   Vendor Model, Short name
    {1, 1, 1, 7, 7, 7, 7, 0xF001, 5, "ZDKR", "Orvanta ZDKR"},  // 0
    {1, 1, 1, 5, 5, 7, 6, 0x0010, 0, "BVH-2000", nullptr},  // 1
    {0, 0, 0, 2, 2, 1, 1, 0x1000, 0, "BVU-800", nullptr},  // 2
    {1, 1, 0, 7, 6, 2, 1, 0x1080, 0, "BVU-900", nullptr},  // 3
    {1, 1, 1, 3, 4, 2, 1, 0x1019, 0, "BVU-920", nullptr},  // 4
    {1, 1, 1, 8, 5, 8, 5, 0x101C, 0, "BVU-950", nullptr},  // 5
    {0, 0, 0, 6, 6, 7, 6, 0x1048, 0, "VO-9800", nullptr},  // 6
    {1, 1, 1, 6, 6, 7, 6, 0x104C, 0, "VO-9850", nullptr},  // 7
    {0, 0, 0, 3, 4, 2, 1, 0x102C, 0, "SVO-9600", nullptr},  // 8
    {1, 1, 1, 3, 4, 2, 1, 0x1028, 0, "SVP-9000", nullptr},  // 9
    {1, 0, 0, 6, 6, 7, 6, 0x8008, 0, "EVO-9800", nullptr},  // 10
    {1, 1, 0, 4, 4, 4, 4, 0x800C, 0, "EVO-9850", nullptr},  // 11
    {0, 0, 0, 4, 4, 4, 4, 0x2000, 0, "BVW-10", nullptr},  // 12
    {1, 1, 0, 5, 5, 5, 5, 0x2010, 0, "BVW-35", nullptr},  // 13
    {1, 1, 0, 5, 5, 5, 5, 0x2030, 0, "BVW-50", nullptr},  // 14
    {1, 0, 0, 4, 4, 3, 1, 0x2001, 0, "BVW-40", nullptr},  // 15
    {0, 0, 0, 4, 4, 4, 4, 0x2020, 0, "BVW-60", nullptr},  // 16
    {1, 1, 1, 4, 4, 4, 4, 0x2021, 0, "BVW-65", nullptr},  // 17
    {1, 1, 1, 4, 4, 4, 4, 0x2024, 0, "BVW-70", nullptr},  // 18
    {1, 1, 1, 4, 4, 4, 4, 0x2025, 0, "BVW-75", nullptr},  // 19
    {1, 1, 0, 3, 4, 2, 1, 0x2003, 7, "CVR-15 (BVW-15)", "CVR-15/BVW-15"},  // 20
    {1, 1, 1, 4, 4, 4, 4, 0x2041, 0, "PVW-2800", nullptr},  // 21
    {1, 0, 0, 4, 4, 4, 4, 0x2040, 0, "PVW-2600", nullptr},  // 22
    {1, 0, 0, 4, 4, 4, 4, 0x2042, 0, "PVW-2650", nullptr},  // 23
    {1, 1, 1, 5, 4, 6, 4, 0x4000, 0, "DVR-10", nullptr},  // 24
    {0, 0, 0, 4, 4, 4, 4, 0x2050, 0, "UVW-1600", nullptr},  // 25
    {1, 1, 1, 4, 4, 4, 4, 0x2051, 0, "UVW-1800", nullptr},  // 26
    {1, 0, 0, 5, 5, 5, 5, 0xA002, 1, "AU-620", nullptr},  // 27
    {1, 1, 1, 5, 5, 5, 5, 0xA000, 1, "AU-650", nullptr},  // 28
    {1, 1, 1, 5, 5, 5, 5, 0xA001, 1, "AU-650 Type 2", nullptr},  // 29
    {1, 1, 1, 5, 5, 5, 5, 0xA003, 1, "AU-660", nullptr},  // 30
    {1, 1, 1, 5, 5, 5, 5, 0xA009, 1, "AU-660 Type 2", nullptr},  // 31
    {1, 1, 1, 5, 5, 5, 5, 0xA013, 1, "AU-665P", nullptr},  // 32
    {1, 0, 0, 5, 5, 5, 5, 0xA011, 1, "AU-62P", nullptr},  // 33
    {1, 0, 0, 5, 5, 5, 5, 0xA012, 1, "AU-63P", nullptr},  // 34
    {1, 1, 1, 5, 5, 5, 5, 0xA010, 1, "AU-65P", nullptr},  // 35
    {1, 0, 0, 5, 5, 5, 5, 0xA016, 1, "AU-62H", nullptr},  // 36
    {1, 0, 0, 5, 5, 5, 5, 0xA017, 1, "AU-63H", nullptr},  // 37
    {1, 1, 1, 5, 5, 5, 5, 0xA015, 1, "AU-65H", nullptr},  // 38
    {1, 1, 1, 5, 5, 5, 5, 0xA019, 1, "AU-66H", nullptr},  // 39
    {0, 0, 0, 9, 8, 8, 8, 0xA081, 1, "AG-7650", nullptr},  // 40
    {1, 1, 1, 9, 8, 8, 8, 0xA080, 1, "AG-7750", nullptr},  // 41
    {1, 0, 0, 3, 4, 2, 1, 0xF000, 2, "CR-850U", nullptr},  // 42
    {0, 0, 0, 2, 2, 2, 1, 0xF00B, 2, "BR-810/F911", nullptr},  // 43
    {1, 0, 0, 3, 4, 2, 1, 0xF00E, 3, "VL-S100", nullptr},  // 44
    {1, 1, 1, 4, 4, 3, 4, 0xF015, 4, "VDR-1000", nullptr},  // 45
    {1, 1, 1, 4, 4, 3, 4, 0xF016, 4, "VDR-1100", nullptr},  // 46
    {1, 1, 1, 7, 7, 7, 7, 0xF001, 5, "ZDKR II", "Orvanta ZDKR"},  // 47
    {1, 1, 1, 7, 7, 7, 7, 0xF01F, 2, "BR-822/622/525 Type 1", "BR-822/622 1"},  // 48
    {1, 1, 1, 7, 7, 7, 7, 0xF00B, 2, "BR-822/622/525 Type 2", "BR-822/622 2"},  // 49
    {1, 1, 1, 7, 7, 7, 7, 0x1000, 2, "BR-822/622/525 OTH1", "BR-822/622 O1"},  // 50
    {1, 1, 1, 7, 7, 7, 7, 0x2025, 2, "BR-822/622/525 OTH2", "BR-822/622 O2"},  // 51
    {0, 0, 0, 2, 1, 1, 4, 0xA058, 6, "AE-BOX-81 VO-5800", "AE-81 VO-5800"},  // 52
    {0, 0, 0, 3, 4, 2, 1, 0xA075, 6, "AE-BOX-81 AG-7500", "AE-81 AG-7500"},  // 53
    {1, 1, 1, 7, 7, 7, 7, 0x3030, 8, "RADIO", nullptr},  // 54
    {1, 1, 1, 4, 4, 4, 4, 0x0000, 0, "Generic RS-422 Protocol", "Sony/SMPTE"},  // 55
    {1, 1, 1, 65535, 65535, 65535, 65535, 0xFFFF, 0, "Auto Detect (on next open)", "Auto Detect (on next open)"},  // 56
};
// clang-format on
