// main: the QorCamMonitor program.
#include "Monitor.h"

int main() {
    return qorcam::monitor::CMonitor().Run();
}
