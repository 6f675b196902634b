#include "platform/platform.h"

namespace kestrim {

int default_answer_for(int style, int default_answer) {
  if (default_answer != 0) return default_answer;
  switch (style & 0x0f) {
    case kMsgYesNoCancel:
    case kMsgYesNo:
      return kAnswerYes;
    default:
      return kAnswerOk;
  }
}

}  // namespace kestrim
