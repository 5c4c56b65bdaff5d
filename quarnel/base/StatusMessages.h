#pragma once

namespace quarnel {

// The string table number of the message for a library status code. Codes
// that are not listed get the message of 0xFFFF.
int StatusTextId(int status);

// The link to the emulator is lost: 0x5000 to 0x5005.
bool IsLinkStatus(int status);
// Unplugs after its message: 1, the link statuses, 0x6302, 0x6304, 0x6307,
// 0x6309 and 0xFFFF. An unlisted code is not fatal.
bool IsFatalStatus(int status);

}  // namespace quarnel
