#include "platform/linux/ListeningSocket.h"

#include <unistd.h>

TListeningSocket::~TListeningSocket() {
    close(m_descriptor);
}
