#include "agent/AgentApplication.h"

// The agent takes no arguments and prints nothing; it serves until the process
// is terminated.
int main() {
    TAgentApplication::Instance()->Run(false);
    return 0;
}
