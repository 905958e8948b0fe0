#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/BinaryData.h"
#include "platform/Connection.h"
#include "tunnel/SlipCodec.h"
#include "tunnel/SlipDecoder.h"

// SLIP framing over a byte stream (see TSlipCodec): frames out with a single send each, frames
// in byte by byte through a TSlipDecoder.
class SLIP {
  public:
    static constexpr unsigned char END = TSlipCodec::END;
    static constexpr unsigned char ESC = TSlipCodec::ESC;
    static constexpr unsigned char ESC_END = TSlipCodec::ESC_END;
    static constexpr unsigned char ESC_ESC = TSlipCodec::ESC_ESC;
    static constexpr unsigned long kMaxRawFrameLength = TSlipCodec::kMaxRawFrameLength;

    // Takes ownership of connection.
    explicit SLIP(IConnection* connection);
    ~SLIP();

    SLIP(const SLIP&) = delete;
    SLIP& operator=(const SLIP&) = delete;

    static T_BinaryData EscapeSpecialCharacters(const T_BinaryData& payload) {
        return TSlipCodec::Escape(payload);
    }
    static T_BinaryData RemoveEscapedCharacters(const T_BinaryData& stuffed) {
        return TSlipCodec::Unescape(stuffed);
    }

    // Writes one framed payload with a single send; true when all of it was taken.
    bool SendData(const T_BinaryData& payload);
    // Raw bytes the line has taken so far, delimiters and escapes included.
    std::uint64_t BytesWritten() const { return m_bytesWritten; }
    // Reads byte by byte until a frame completes or no byte is ready. Returns
    // that frame's payload, or an empty buffer; a partly received frame is kept
    // for the next call. Bytes outside a frame are dropped, and an END that
    // closes a frame does not open the next one.
    T_BinaryData ReceiveData();
    // The collected frame, unstuffed; the collection starts over.
    T_BinaryData ReturnAndFlushReceivedData();

    // The unstuffed bytes of a frame still waiting for its closing END, when it has collected
    // at most maxRaw raw bytes; otherwise, or outside a frame, nothing.
    T_BinaryData PendingFrame(unsigned long maxRaw) const;
    // How many raw bytes the frame waiting for its closing END has collected; 0 outside a frame.
    unsigned long PendingRawLength() const {
        return m_decoder.InFrame() ? m_decoder.Collected().Length() : 0;
    }
    // Drops them; the frame stays open, so what follows is collected afresh.
    void DropPendingFrame() { m_decoder.DropCollected(); }
    // Closes each frame with END END instead of a single END. A receiver whose closing END
    // does not open the next frame then takes a frame whose first closing END was damaged (the
    // second closes it, the damaged byte after its end ignored), and shrugs off a damaged
    // second one (a byte outside any frame). A doubled opening END would not help: with the
    // END before it, a damage to either would glue a byte to the front of the frame.
    void SetDoubleDelimiters(bool on) { m_doubleDelimiters = on; }
    // See TSlipDecoder::SetClosingEndOpens.
    void SetClosingEndOpens(bool on) { m_decoder.SetClosingEndOpens(on); }

  private:
    std::unique_ptr<IConnection> m_connection;
    TSlipDecoder m_decoder;
    bool m_doubleDelimiters = false;
    std::uint64_t m_bytesWritten = 0;
};
