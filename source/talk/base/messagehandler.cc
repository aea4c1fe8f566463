#include "talk/base/messagehandler.h"

#include "talk/base/messagequeue.h"

namespace talk_base {

MessageHandler::~MessageHandler() { MessageQueueManager::Clear(this); }

}  // namespace talk_base
