#pragma once

// The numbers of QUARNEL's texts (LoadText, FormatText, the message boxes and
// the message ids the windows record). One name per number; the texts
// themselves are in StringTable.cpp.
namespace quarnel::text {

// Program, files and log.
inline constexpr int kVersionInformation = 104;  // "QUARNEL Version Information..."
inline constexpr int kProgramName = 105;         // "QUARNEL": box titles, window title, instance lock
inline constexpr int kSelectFileToWrite = 106;
inline constexpr int kObjectFileFilter = 109;
inline constexpr int kLibraryName = 156;  // "libvestra.so", the name the library is loaded by
inline constexpr int kClearLogQuestion = 160;
inline constexpr int kSaveLogTitle = 161;
inline constexpr int kLogFileFilter = 162;
inline constexpr int kNotFound = 186;  // " not found."
inline constexpr int kExitQuestion = 188;
inline constexpr int kInvalid = 189;  // "Invalid "
// The about box's version suffix; the table holds none, so the suffix is empty.
inline constexpr int kVersionSuffix = 203;
inline constexpr int kLogNotSaved = 3008;

// Column titles of the file list and the erase list.
inline constexpr int kFileNameColumn = 114;
inline constexpr int kStartAddressColumn = 115;
inline constexpr int kOffsetColumn = 116;
inline constexpr int kEndAddressColumn = 117;
inline constexpr int kBlockColumn = 128;
inline constexpr int kBlockStartColumn = 129;
inline constexpr int kBlockEndColumn = 130;
inline constexpr int kEraseColumn = 191;
inline constexpr int kStatusColumn = 192;
inline constexpr int kFlashStartColumn = 204;

// Questions before and during an operation.
inline constexpr int kStartWriting = 123;
inline constexpr int kCancelWriting = 124;
inline constexpr int kWriteWithoutErase = 134;  // existing data may be overwritten
inline constexpr int kAdditionalDataQuestion = 135;
inline constexpr int kUnplugQuestion = 136;
inline constexpr int kStartErasure = 151;
inline constexpr int kCancelErasure = 152;
inline constexpr int kStartVerification = 158;
inline constexpr int kCancelVerification = 159;
inline constexpr int kFileChanged = 3000;

// Write settings as the log names them.
inline constexpr int kNotFill = 132;
inline constexpr int kAddTwoWords = 133;
inline constexpr int kEraseBeforeWrite = 185;

// Log lines of Write & Check, Verify and Erase.
inline constexpr int kContentRead = 166;
inline constexpr int kWritingHeader = 167;
inline constexpr int kFileForWriting = 169;
inline constexpr int kFlashContentFill = 170;  // "Content of flash memory"
inline constexpr int kWritingInterrupted = 171;
inline constexpr int kWritingCompleted = 172;
inline constexpr int kVerificationHeader = 173;
inline constexpr int kFileForVerification = 174;
inline constexpr int kNoDifferences = 175;
inline constexpr int kDifferencesFound = 176;  // also the status 0x2006
inline constexpr int kVerificationInterrupted = 177;
inline constexpr int kVerificationCompleted = 178;
inline constexpr int kErasingBlocks = 179;
inline constexpr int kErasingInterrupted = 180;
inline constexpr int kErasingHeader = 181;
inline constexpr int kErasingCompleted = 182;
inline constexpr int kTargetFailed = 3001;
inline constexpr int kFailedTargetsList = 3002;
inline constexpr int kWritingFailedOnOthers = 3003;
inline constexpr int kErasingFailedOnOthers = 3004;
inline constexpr int kVerificationTargetHeader = 3005;
inline constexpr int kVerificationFailedOnOthers = 3006;
inline constexpr int kTargetNotRead = 3007;

// Operation failures.
inline constexpr int kWritingFailed = 2015;
inline constexpr int kErasingFailed = 2016;
inline constexpr int kReadingFailed = 2017;

// Plugging, target descriptions and the security check.
inline constexpr int kTargetChanged = 138;     // "The target LSI has changed to ", status 0x2000
inline constexpr int kWrongSecurityId = 139;   // status 0x2001
inline constexpr int kTargetMismatch = 146;    // status 0x2002
inline constexpr int kFirmwareUnreadable = 153;  // status 0x2003
inline constexpr int kFirmwareDifferent = 154;   // status 0x2004
inline constexpr int kNoTrgFiles = 165;
inline constexpr int kNotConnected = 193;
// The same text as kNotConnected, for the status 0x5005: the emulators are
// held by another program (the KORVO access lock was not obtained).
inline constexpr int kLockNotObtained = 2039;
inline constexpr int kSecurityIdCheck = 2052;  // status 0x2005
inline constexpr int kTrgSkipped = 2067;
inline constexpr int kNoTrgRead = 2068;
inline constexpr int kUnsupportedTarget = 2069;

// The file list and its rows.
inline constexpr int kDuplicateWithListed = 163;
inline constexpr int kNothingAtOrAboveStart = 183;
inline constexpr int kNothingInWindow = 184;
inline constexpr int kIllegalStart = 2000;
inline constexpr int kIllegalOffset = 2001;
inline constexpr int kIllegalFillByte = 2002;
inline constexpr int kIllegalArbitraryEnd = 2003;
inline constexpr int kNoArbitraryEnd = 2005;
inline constexpr int kCannotOpen = 2013;
inline constexpr int kStartAboveEnd = 2014;
inline constexpr int kNoFillByte = 2022;
inline constexpr int kDuplicateInFile = 2023;
inline constexpr int kRowStartUnreadable = 2024;
inline constexpr int kRowEndUnreadable = 2025;
inline constexpr int kRowOffsetUnreadable = 2026;
inline constexpr int kRowOutOfOrder = 2028;
inline constexpr int kOutsideFlash = 2070;
inline constexpr int kFileTooLarge = 3010;

// Object file scans.
inline constexpr int kIllegalEndRecord = 2007;
inline constexpr int kIntelChecksumError = 2008;
inline constexpr int kSRecordChecksumError = 2009;
inline constexpr int kUnpairedEndRecord = 2010;
inline constexpr int kNoEndRecord = 2011;
inline constexpr int kNoDataRecord = 2012;
inline constexpr int kIllegalFormat = 2021;
inline constexpr int kAddressTooLarge = 3009;

// Status messages, named after their family and error code: "may be
// malfunctioning" (Malfunction), "failed to access the target LSI"
// (TargetAccess), "failed to communicate with the KORVO" (Communication) and
// "internal QUARNEL error" (InternalError).
inline constexpr int kMalfunction6000 = 110;
inline constexpr int kMalfunction6001 = 111;
inline constexpr int kMalfunction6002 = 112;
inline constexpr int kMalfunction6003 = 113;
inline constexpr int kMalfunction6304 = 118;
inline constexpr int kTargetAccess6305 = 119;
inline constexpr int kMalfunction6306 = 121;
inline constexpr int kTargetAccess6309 = 131;
inline constexpr int kTargetAccess6302 = 137;
inline constexpr int kCommunication0001 = 141;
inline constexpr int kTargetAccess6307 = 142;
inline constexpr int kTargetAccess6308 = 143;
inline constexpr int kMalfunction630A = 144;
inline constexpr int kTargetAccess6100 = 145;
inline constexpr int kMalfunction630C = 148;
inline constexpr int kTargetAccess6300 = 149;
inline constexpr int kTargetAccess6303 = 2032;
inline constexpr int kCommunication1000 = 2035;
inline constexpr int kCommunication1001 = 2036;
inline constexpr int kMalfunction1002 = 2037;
inline constexpr int kMalfunction1004 = 2038;
inline constexpr int kInternalError1006 = 2040;
inline constexpr int kInternalError1007 = 2041;
inline constexpr int kInternalError1008 = 2042;
inline constexpr int kInternalError1009 = 2043;
inline constexpr int kInternalError1010 = 2044;
inline constexpr int kInternalError1011 = 2045;
inline constexpr int kInternalError1012 = 2046;
// Also what Write & Check reports when the planner finds a gap it has no rule for.
inline constexpr int kInternalError1013 = 2047;
inline constexpr int kMalfunctionFFFF = 2050;  // any status the table does not list
inline constexpr int kMalfunction1003 = 2051;

}  // namespace quarnel::text
