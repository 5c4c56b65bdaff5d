// A stand-in for libvestra.so that exports every bound name except the one
// named by FAKE_VESTRA_ABSENT_<name>. Binding only looks names up, so the
// entries take no arguments and are never called.

extern "C" {

#ifndef FAKE_VESTRA_ABSENT_ApiCreateConnect
__attribute__((visibility("default"))) int ApiCreateConnect() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiCreateConnectOne
__attribute__((visibility("default"))) int ApiCreateConnectOne() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiDelConnect
__attribute__((visibility("default"))) int ApiDelConnect() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiChipEraseAll
__attribute__((visibility("default"))) int ApiChipEraseAll() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiFlashEraseBlockAll
__attribute__((visibility("default"))) int ApiFlashEraseBlockAll() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiFlashWriteAll
__attribute__((visibility("default"))) int ApiFlashWriteAll() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiFlashRead
__attribute__((visibility("default"))) int ApiFlashRead() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiFlashReadBlock
__attribute__((visibility("default"))) int ApiFlashReadBlock() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetEnableFlg
__attribute__((visibility("default"))) int ApiGetEnableFlg() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSetEnableFlg
__attribute__((visibility("default"))) int ApiSetEnableFlg() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetTargetStatus
__attribute__((visibility("default"))) int ApiGetTargetStatus() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSetTargetStatus
__attribute__((visibility("default"))) int ApiSetTargetStatus() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiIsTargetPlugSuccess
__attribute__((visibility("default"))) int ApiIsTargetPlugSuccess() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiUpdateErrorTargetLED
__attribute__((visibility("default"))) int ApiUpdateErrorTargetLED() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetTargetNum
__attribute__((visibility("default"))) int ApiGetTargetNum() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetDevicePathStr
__attribute__((visibility("default"))) int ApiGetDevicePathStr() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiFlashWriteAllWithSN
__attribute__((visibility("default"))) int ApiFlashWriteAllWithSN() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetSerialNumber
__attribute__((visibility("default"))) int ApiGetSerialNumber() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSetSerialNumber
__attribute__((visibility("default"))) int ApiSetSerialNumber() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiErrorTargetLED
__attribute__((visibility("default"))) int ApiErrorTargetLED() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiTargetReadProductID
__attribute__((visibility("default"))) int ApiTargetReadProductID() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSysResetPlug
__attribute__((visibility("default"))) int ApiSysResetPlug() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSysReset
__attribute__((visibility("default"))) int ApiSysReset() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiCheckFirm
__attribute__((visibility("default"))) int ApiCheckFirm() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiCheckTargetName
__attribute__((visibility("default"))) int ApiCheckTargetName() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetSecType
__attribute__((visibility("default"))) int ApiGetSecType() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetTargetPlugStatus
__attribute__((visibility("default"))) int ApiGetTargetPlugStatus() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSetTargetPlugStatus
__attribute__((visibility("default"))) int ApiSetTargetPlugStatus() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiStartupTargetAll
__attribute__((visibility("default"))) int ApiStartupTargetAll() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiReadTargetInfoFile
__attribute__((visibility("default"))) int ApiReadTargetInfoFile() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiDeleteTargetInfoSet
__attribute__((visibility("default"))) int ApiDeleteTargetInfoSet() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiGetFirmVersionStr
__attribute__((visibility("default"))) int ApiGetFirmVersionStr() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiIsTargetProtected
__attribute__((visibility("default"))) int ApiIsTargetProtected() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSetSecID
__attribute__((visibility("default"))) int ApiSetSecID() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSetSecIDEx
__attribute__((visibility("default"))) int ApiSetSecIDEx() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSystemResetAll
__attribute__((visibility("default"))) int ApiSystemResetAll() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSystemResetAllSimple
__attribute__((visibility("default"))) int ApiSystemResetAllSimple() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ApiSystemReset
__attribute__((visibility("default"))) int ApiSystemReset() { return 0; }
#endif
#ifndef FAKE_VESTRA_ABSENT_ReadHEX
__attribute__((visibility("default"))) int ReadHEX() { return 0; }
#endif

}  // extern "C"
