#pragma once

#include <string>

// Control identifiers of QUARNEL's windows. Each widget carries its
// identifier as its object name ("ctl1016", see ControlObjectName), so the
// enabling rules read like their lists and tests find controls by number.
namespace quarnel::ctl {

// Buttons that end a dialog, as in every dialog of the program.
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;

// Main window.
inline constexpr int kTargetList = 1000;
inline constexpr int kArbitraryData = 1001;
inline constexpr int kFileName = 1002;
inline constexpr int kBrowse = 1003;
inline constexpr int kAddToList = 1004;
inline constexpr int kFileList = 1005;
inline constexpr int kStartAddress = 1006;
inline constexpr int kFlashOffset = 1007;
inline constexpr int kEndOnMemory = 1008;
inline constexpr int kEndByFileContent = 1009;
inline constexpr int kEndArbitrary = 1010;
inline constexpr int kArbitraryAddress = 1011;
inline constexpr int kEraseList = 1012;
inline constexpr int kDeleteFromList = 1014;
inline constexpr int kWrite = 1016;
inline constexpr int kWriteCancel = 1017;
inline constexpr int kErase = 1018;
inline constexpr int kSelectAll = 1019;
inline constexpr int kEraseCancel = 1020;
inline constexpr int kClearLog = 1022;
inline constexpr int kSaveLog = 1023;
inline constexpr int kLogList = 1024;
inline constexpr int kVerify = 1025;
inline constexpr int kExit = 1026;
inline constexpr int kFillFlashContent = 1030;
inline constexpr int kFillArbitrary = 1032;
inline constexpr int kEraseBeforeWrite = 1033;
inline constexpr int kNotFill = 1034;
inline constexpr int kAddTwoWords = 1035;
inline constexpr int kAbout = 1036;
inline constexpr int kEndAddressOnMemory = 1037;
inline constexpr int kPlug = 1038;

// About box.
inline constexpr int kAboutVersion = 1034;
inline constexpr int kAboutNotice = 1035;

// Select Target dialog: its list reuses the main window's number.
inline constexpr int kTargetChoice = 1000;

// Security ID dialog: the two choices and the twelve fields (2060 unused).
inline constexpr int kEnterSecurityId = 2052;
inline constexpr int kInitializeFlash = 2053;
inline constexpr int kSecurityFields[12] = {2054, 2055, 2056, 2057, 2058, 2059,
                                            2061, 2062, 2063, 2064, 2065, 2066};

}  // namespace quarnel::ctl

namespace quarnel {

// "ctl" followed by the identifier, e.g. "ctl1016".
inline std::string ControlObjectName(int id) { return "ctl" + std::to_string(id); }

}  // namespace quarnel
