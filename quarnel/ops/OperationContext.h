#pragma once

#include <string>

#include "base/ApiCalls.h"
#include "base/OperationWindow.h"
#include "image/FileList.h"
#include "image/FlashBuffers.h"
#include "objfile/ObjectFileScanner.h"
#include "target/TargetSetup.h"

namespace quarnel {

// Address-filling data: the current flash content, or a byte the user typed.
enum class FillMode : int32_t { FlashContent = 0, ArbitraryData = 1 };

// What an operation works on. Everything is owned by the window and must
// outlive the operation; the target and the buffers are those applied last.
struct OperationContext {
  ApiCalls& api;
  OperationWindow& window;
  const AppliedTarget& target;
  FlashBuffers& buffers;
  ObjectFileScanner& scanner;
  FileList& files;
};

}  // namespace quarnel
