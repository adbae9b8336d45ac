// Loading and saving a device's section of "VTR.INI".
#include "config/profile.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "config/ballistics.h"

char szRequestedSection[kSectionChars];

namespace {

enum class Width { U8, U16, I16, U32 };

// A profile key and the field it fills, in the order keys are written.
struct KeyDef {
  const char* szKey;
  std::size_t offset;
  Width width;
  bool read;  // written-only keys are never read back
};

#define KEY(name, width, read) \
  { #name, offsetof(DeviceRecord, name), Width::width, read }
const KeyDef kKeys[] = {
    KEY(UseWinCom, U32, false),  KEY(ComPort, U16, true),      KEY(ComAddr, U16, false),
    KEY(ComIrq, U16, false),     KEY(ComBaud, U16, false),     KEY(ComData, U16, false),
    KEY(ComParity, U16, false),  KEY(ComStop, U16, false),     KEY(VTRID, U32, true),
    KEY(TapeFormat, U32, true),  KEY(Pal, U32, true),          KEY(UserBits, U32, true),
    KEY(AudioTracks, U16, true), KEY(VideoSources, U16, true), KEY(AudioSources, U16, true),
    KEY(LTCTrack, U16, true),    KEY(PreRoll, U16, true),      KEY(PostRoll, U16, true),
    KEY(RecPreRoll, U16, true),  KEY(RecPostRoll, U16, true),  KEY(InsPreRoll, U16, true),
    KEY(InsPostRoll, U16, true), KEY(CanCue, U32, true),       KEY(CanRecord, U32, true),
    KEY(CanEject, U32, true),    KEY(CanEdit, U32, true),      KEY(CanAuto, U32, true),
    KEY(CanAssemble, U32, true), KEY(CanInsVid, U32, true),    KEY(CanInsAud, U32, true),
    KEY(CanInsTC, U32, true),    KEY(CanStep, U32, true),      KEY(HasTC, U32, true),
    KEY(HasCTL, U32, true),      KEY(HasLTC, U32, true),       KEY(HasVTC, U32, true),
    KEY(EditIn, I16, true),      KEY(EditOut, I16, true),      KEY(EEIn, I16, true),
    KEY(EEOut, I16, true),       KEY(Preset, I16, true),       KEY(InDelay, I16, true),
    KEY(OutDelay, I16, true),    KEY(PresetDelay, I16, true),  KEY(PrerollBias, I16, true),
    KEY(TimerSelect, U16, true), KEY(RecInhibit, U32, true),   KEY(BumpType, U16, true),
    KEY(CanBump, U32, true),     KEY(BumpDelay, I16, true),    KEY(BumpBias, I16, true),
    KEY(BumpPhase, I16, true),   KEY(BumpFwdCmd, U8, true),    KEY(BumpRevCmd, U8, true),
    KEY(BumpOnce, U32, true),    KEY(BumpPlay, U32, true),     KEY(HasDFFlag, U32, true),
    KEY(EEStop, U32, true),      KEY(ProhibitEE, U32, true),   KEY(HasCFFlag, U32, true),
    KEY(EnableCF, U32, true),    KEY(CFPhase, U16, true),      KEY(SpeedChgDelay, I16, true),
};
#undef KEY

// The keys read after "ComPort", in reading order.
const char* const kReadOrder[] = {
    "VTRID",         "TapeFormat",  "UserBits",   "Pal",        "AudioTracks", "VideoSources",
    "AudioSources",  "LTCTrack",    "PreRoll",    "PostRoll",   "RecPreRoll",  "RecPostRoll",
    "InsPreRoll",    "InsPostRoll", "CanCue",     "CanRecord",  "CanEject",    "CanEdit",
    "CanAuto",       "CanAssemble", "CanInsVid",  "CanInsAud",  "CanInsTC",    "CanStep",
    "HasTC",         "HasCTL",      "HasLTC",     "HasVTC",     "EditIn",      "EditOut",
    "EEIn",          "EEOut",       "Preset",     "InDelay",    "OutDelay",    "PresetDelay",
    "PrerollBias",   "TimerSelect", "RecInhibit", "BumpType",   "CanBump",     "BumpDelay",
    "BumpBias",      "BumpPhase",   "BumpFwdCmd", "BumpRevCmd", "BumpOnce",    "BumpPlay",
    "HasDFFlag",     "EEStop",      "ProhibitEE", "HasCFFlag",  "EnableCF",    "CFPhase",
    "SpeedChgDelay",
};

const KeyDef* findKey(const char* name) {
  for (const auto& k : kKeys) {
    if (std::strcmp(k.szKey, name) == 0) return &k;
  }
  return nullptr;
}

void* fieldOf(DeviceRecord* rec, const KeyDef& k) {
  return reinterpret_cast<unsigned char*>(rec) + k.offset;
}
const void* fieldOf(const DeviceRecord* rec, const KeyDef& k) {
  return reinterpret_cast<const unsigned char*>(rec) + k.offset;
}

// The field's value as the profile default is passed.
INT defaultOf(const DeviceRecord* rec, const KeyDef& k) {
  const void* p = fieldOf(rec, k);
  switch (k.width) {
    case Width::U8:
      return *static_cast<const BYTE*>(p);
    case Width::U16:
      return *static_cast<const WORD*>(p);
    case Width::I16:
      return *static_cast<const std::int16_t*>(p);
    case Width::U32:
      return static_cast<INT>(*static_cast<const DWORD*>(p));
  }
  return 0;
}

void store(DeviceRecord* rec, const KeyDef& k, UINT value) {
  void* p = fieldOf(rec, k);
  switch (k.width) {
    case Width::U8:
      *static_cast<BYTE*>(p) = static_cast<BYTE>(value & 0xFF);
      break;
    case Width::U16:
      *static_cast<WORD*>(p) = static_cast<WORD>(value & 0xFFFF);
      break;
    case Width::I16:
      *static_cast<std::int16_t*>(p) = static_cast<std::int16_t>(static_cast<WORD>(value & 0xFFFF));
      break;
    case Width::U32:
      *static_cast<DWORD*>(p) = value;
      break;
  }
}

void format(const DeviceRecord* rec, const KeyDef& k, char* buf, std::size_t size) {
  const void* p = fieldOf(rec, k);
  switch (k.width) {
    case Width::U8:
      std::snprintf(buf, size, "%u", static_cast<unsigned>(*static_cast<const BYTE*>(p)));
      break;
    case Width::U16:
      std::snprintf(buf, size, "%u", static_cast<unsigned>(*static_cast<const WORD*>(p)));
      break;
    case Width::I16:
      std::snprintf(buf, size, "%d", static_cast<int>(*static_cast<const std::int16_t*>(p)));
      break;
    case Width::U32:
      std::snprintf(buf, size, "%d", static_cast<int>(*static_cast<const DWORD*>(p)));
      break;
  }
}

}  // namespace

void LoadDevINI(LPCSTR szSection, DeviceRecord* rec) {
  rec->UseWinCom = 1;
  rec->ComPort =
      static_cast<WORD>(GetPrivateProfileIntA(szSection, "ComPort", rec->ComPort, kProfileFile));
  rec->ComAddr = rec->ComIrq = rec->ComBaud = rec->ComData = rec->ComParity = rec->ComStop = 0;
  for (const char* name : kReadOrder) {
    const KeyDef& k = *findKey(name);
    INT def = defaultOf(rec, k);
    if (std::strcmp(name, "CanAuto") == 0) {
      def = static_cast<INT>(rec->CanEdit);  // a section without "CanAuto" follows "CanEdit"
    } else if (std::strcmp(name, "VTRID") == 0 || std::strcmp(name, "TapeFormat") == 0 ||
               std::strcmp(name, "UserBits") == 0) {
      def &= 0xFFFF;
    }
    store(rec, k, GetPrivateProfileIntA(szSection, name, def, kProfileFile));
  }
}

// One write of the whole section: the file changes once, and a reader never
// sees half a save.
void SaveDevINI(LPCSTR szSection, const DeviceRecord* rec) {
  constexpr std::size_t kCount = std::size(kKeys);
  char szName[128];
  // Beyond the table the name of the detect row stands.
  const DWORD row = rec->VTRID < kModelRows ? rec->VTRID : kVtrIdDetect;
  std::snprintf(szName, sizeof(szName), "%s %s", szMachVendors[vtrBallistics[row].wVendor],
                vtrBallistics[row].szModel);
  char szValues[kCount][16];
  ProfileKeyValue pairs[kCount + 1];
  pairs[0] = {"VTRName", szName};
  for (std::size_t i = 0; i < kCount; ++i) {
    format(rec, kKeys[i], szValues[i], sizeof(szValues[i]));
    pairs[i + 1] = {kKeys[i].szKey, szValues[i]};
  }
  WritePrivateProfileKeys(szSection, pairs, kCount + 1, kProfileFile);
}

INT ProfileFieldValue(const DeviceRecord* rec, const char* szKey) {
  const KeyDef* k = findKey(szKey);
  return k != nullptr ? defaultOf(rec, *k) : 0;
}

void FormatProfileField(const DeviceRecord* rec, const char* szKey, char* szBuf, std::size_t cb) {
  const KeyDef* k = findKey(szKey);
  if (k != nullptr) {
    format(rec, *k, szBuf, cb);
  } else if (cb > 0) {
    szBuf[0] = '\0';
  }
}

void StoreProfileField(DeviceRecord* rec, const char* szKey, UINT value) {
  if (const KeyDef* k = findKey(szKey)) store(rec, *k, value);
}

void FormDeviceName(LPCWSTR lpstrParams, char* szSection, DWORD* pdwNumber) {
  std::strcpy(szSection, "videotape");
  *pdwNumber = 0;
  if (lpstrParams == nullptr) return;
  const WCHAR* p = lpstrParams;
  while (*p != 0 && !(*p >= '0' && *p <= '9')) ++p;
  if (*p == 0) return;
  const char first = static_cast<char>(*p);
  const WCHAR next = p[1];
  const size_t len = std::strlen(szSection);
  szSection[len] = first;
  if (next >= '0' && next <= '9') {
    szSection[len + 1] = static_cast<char>(next);
    szSection[len + 2] = 0;
    *pdwNumber = static_cast<DWORD>(first - '0') * 10 + static_cast<DWORD>(next - '0');
  } else {
    szSection[len + 1] = 0;
    *pdwNumber = static_cast<DWORD>(first - '0');
  }
}
