#include "agent/LineCapture.h"

namespace {

TLineCutter::TSink Recording(TCaptureRecorder& recorder, tunnelcapture::TLineDirection direction) {
    return [&recorder, direction](TLineCutter::TKind kind, const T_BinaryData& bytes) {
        recorder.RecordLine(direction,
                            kind == TLineCutter::TKind::Frame ? tunnelcapture::TLineKind::Frame
                                                              : tunnelcapture::TLineKind::Garbage,
                            bytes.GetData(), bytes.Length());
    };
}

}  // namespace

TLineCapture::TLineCapture(IConnection* port, TCaptureRecorder& recorder)
    : m_port(port),
      m_pollable(dynamic_cast<const IPollable*>(port)),
      m_serialLine(dynamic_cast<ISerialLine*>(port)),
      m_recorder(recorder),
      m_fromTerminal(Recording(recorder, tunnelcapture::TLineDirection::FromTerminal)),
      m_toTerminal(Recording(recorder, tunnelcapture::TLineDirection::ToTerminal)) {}

TLineCapture::~TLineCapture() {
    m_recorder.Flush();
}

long TLineCapture::Send(const unsigned char* data, unsigned long length) {
    const long sent = m_port->Send(data, length);
    if (sent > 0) {
        m_toTerminal.Feed(data, static_cast<unsigned long>(sent));
    }
    return sent;
}

long TLineCapture::Receive(unsigned char* buffer, unsigned long length) {
    const long received = m_port->Receive(buffer, length);
    if (received > 0) {
        m_fromTerminal.Feed(buffer, static_cast<unsigned long>(received));
    } else {
        m_recorder.FlushIfDue();
    }
    return received;
}

int TLineCapture::GetDescriptor() const {
    return m_pollable != nullptr ? m_pollable->GetDescriptor() : -1;
}

void TLineCapture::SetReceiveWait(unsigned long milliseconds) {
    if (m_serialLine != nullptr) {
        m_serialLine->SetReceiveWait(milliseconds);
    }
}
