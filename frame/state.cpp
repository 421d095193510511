// Frame state shared by the life cycle, the signal handler and the event
// thread.
#include "frame/frame.hpp"
#include "frame/frame_internal.hpp"

bool singletonEnabled = true;
bool backgroundMode = false;
long lockHandle = 0;
int currentState = 0;
pthread_mutex_t stateMutex;
const char *processName = "";
pthread_t emThreadId;
