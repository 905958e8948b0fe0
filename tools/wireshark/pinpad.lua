-- Wireshark dissector for the PIN pad tunnel in the captures of pinpad-agent
-- (--capture) and commlog-decode (--pcapng).
--
-- The serial line is a capture interface of link type USER0. Each record
-- starts with two bytes: the direction (0 from the terminal, 1 to the
-- terminal) and the kind (0 a SLIP frame as the agent's decoder cut it,
-- unstuffed; 1 raw bytes that were no frame). A frame is
--   type (0x41 data, 0x06 ACK, 0x15 NAK), number, length N, N bytes of data,
--   CRC-16/CCITT-FALSE over the N + 3 bytes before it, high byte first.
-- The data of the data frames of one direction is one byte stream of tunnel
-- packets:
--   length L (2 bytes, the bytes that follow), action, socket id (4 bytes),
--   then the action's fields.
--
-- Enable it for one user by copying it into the personal Lua plugins folder
-- (~/.local/lib/wireshark/plugins/), for everyone by linking it into the
-- global one (/usr/lib/x86_64-linux-gnu/wireshark/plugins/), or for one run
-- with: tshark -X lua_script:/usr/share/pinpad-agent/wireshark/pinpad.lua

local bit = bit or bit32

local pinpad = Proto("pinpad", "PIN pad tunnel")

local DIRECTIONS = { [0] = "terminal → agent", [1] = "agent → terminal" }
local RECORD_KINDS = { [0] = "frame", [1] = "garbage" }
local FRAME_TYPES = { [0x41] = "DATA", [0x06] = "ACK", [0x15] = "NAK" }
local ACTIONS = {
    [1] = "CALL", [2] = "LISTEN", [3] = "CONNECTED", [4] = "CALL_RESULT", [5] = "CLOSED",
    [6] = "CLOSE", [7] = "DATA_IN", [8] = "DATA_OUT", [9] = "RESET",
}
-- The packet length L each action must have; data packets have at least 5.
local ACTION_LENGTHS = { [1] = 11, [2] = 7, [3] = 11, [4] = 9, [5] = 5, [6] = 5, [9] = 5 }

local f = {
    direction = ProtoField.uint8("pinpad.direction", "Direction", base.DEC, DIRECTIONS),
    record = ProtoField.uint8("pinpad.record", "Record", base.DEC, RECORD_KINDS),
    garbage = ProtoField.bytes("pinpad.garbage.bytes", "Bytes outside any frame"),
    frame_type = ProtoField.uint8("pinpad.frame.type", "Frame type", base.HEX, FRAME_TYPES),
    frame_seq = ProtoField.uint8("pinpad.frame.seq", "Number", base.DEC),
    frame_len = ProtoField.uint8("pinpad.frame.len", "Length", base.DEC),
    frame_data = ProtoField.bytes("pinpad.frame.data", "Data"),
    frame_check = ProtoField.uint16("pinpad.frame.check", "Check", base.HEX),
    frame_check_good = ProtoField.bool("pinpad.frame.check_good", "Check good"),
    frame_answers = ProtoField.uint8("pinpad.frame.answers", "Answers data frame number", base.DEC),
    frame_repeat = ProtoField.framenum("pinpad.frame.repeat_of", "Repeat of the frame in"),
    frame_gap = ProtoField.uint8("pinpad.frame.gap_expected", "Gap: number expected", base.DEC),
    frame_probe = ProtoField.bool("pinpad.frame.probe", "Probe"),
    frame_probe_answer = ProtoField.framenum("pinpad.frame.probe_answer_to",
                                              "Answers the probe in"),
    packet_length = ProtoField.uint16("pinpad.packet.length", "Packet length", base.DEC),
    packet_action = ProtoField.uint8("pinpad.packet.action", "Action", base.DEC, ACTIONS),
    packet_socket = ProtoField.uint32("pinpad.packet.socket", "Socket id", base.DEC),
    packet_address = ProtoField.ipv4("pinpad.packet.address", "Address"),
    packet_port = ProtoField.uint16("pinpad.packet.port", "Port", base.DEC),
    packet_error = ProtoField.uint32("pinpad.packet.error", "Error", base.DEC),
    packet_data = ProtoField.bytes("pinpad.packet.data", "Data"),
    packet_frames = ProtoField.string("pinpad.packet.frames", "Reassembled from frames"),
}
pinpad.fields = {}
for _, field in pairs(f) do
    table.insert(pinpad.fields, field)
end

local e = {
    nak = ProtoExpert.new("pinpad.nak", "Frame refused (NAK)", expert.group.SEQUENCE,
                          expert.severity.WARN),
    repeated = ProtoExpert.new("pinpad.repeat", "Repeated data frame", expert.group.SEQUENCE,
                               expert.severity.NOTE),
    gap = ProtoExpert.new("pinpad.gap", "Gap in the frame numbers", expert.group.SEQUENCE,
                          expert.severity.WARN),
    probe = ProtoExpert.new("pinpad.probe", "Probe: asks for the answer to an overdue frame",
                            expert.group.SEQUENCE, expert.severity.CHAT),
    restart = ProtoExpert.new("pinpad.restart", "Frame numbers start over",
                              expert.group.SEQUENCE, expert.severity.CHAT),
    bad_check = ProtoExpert.new("pinpad.bad_check", "Wrong check", expert.group.CHECKSUM,
                                expert.severity.ERROR),
    malformed = ProtoExpert.new("pinpad.malformed", "Malformed", expert.group.MALFORMED,
                                expert.severity.ERROR),
    garbage = ProtoExpert.new("pinpad.garbage", "Garbage on the line", expert.group.PROTOCOL,
                              expert.severity.WARN),
}
pinpad.experts = {}
for _, ex in pairs(e) do
    table.insert(pinpad.experts, ex)
end

local data_dissector = Dissector.get("data")

-- CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR.
local crc_table = {}
for i = 0, 255 do
    local crc = bit.lshift(i, 8)
    for _ = 1, 8 do
        if bit.band(crc, 0x8000) ~= 0 then
            crc = bit.band(bit.bxor(bit.lshift(crc, 1), 0x1021), 0xFFFF)
        else
            crc = bit.band(bit.lshift(crc, 1), 0xFFFF)
        end
    end
    crc_table[i] = crc
end

local function crc16(bytes)
    local crc = 0xFFFF
    for i = 1, #bytes do
        local index = bit.band(bit.bxor(bit.rshift(crc, 8), bytes:byte(i)), 0xFF)
        crc = bit.band(bit.bxor(bit.lshift(crc, 8), crc_table[index]), 0xFFFF)
    end
    return crc
end

local function be16(bytes, at)
    return bytes:byte(at) * 256 + bytes:byte(at + 1)
end

local function be32(bytes, at)
    return be16(bytes, at) * 65536 + be16(bytes, at + 2)
end

-- What the first pass learnt of each frame, by frame number, and the state of each direction
-- of the line while it goes.
local analysis = {}
local lines = {}

local function new_line()
    return {
        last = nil,        -- number of the last data frame with data
        last_frame = nil,  -- the frame that carried it
        last_data = nil,
        stream = "",       -- packet bytes not yet cut into packets
        pieces = {},       -- where the stream's bytes came from: {frame =, bytes =}
        probes = {},       -- probes waiting for their answer: number -> frame
    }
end

function pinpad.init()
    analysis = {}
    lines = { [0] = new_line(), [1] = new_line() }
end

-- Appends a frame's data to the direction's stream and cuts off every whole packet.
local function deliver(line, number, data, result)
    line.stream = line.stream .. data
    table.insert(line.pieces, { frame = number, bytes = #data })
    while #line.stream >= 2 do
        local length = be16(line.stream, 1) + 2
        if #line.stream < length then
            break
        end
        local frames = {}
        local left = length
        while left > 0 do
            local piece = line.pieces[1]
            if #frames == 0 or frames[#frames] ~= piece.frame then
                table.insert(frames, piece.frame)
            end
            local taken = math.min(left, piece.bytes)
            piece.bytes = piece.bytes - taken
            left = left - taken
            if piece.bytes == 0 then
                table.remove(line.pieces, 1)
            end
        end
        local list = {}
        for i, frame in ipairs(frames) do
            list[i] = tostring(frame)
        end
        table.insert(result.packets, {
            bytes = line.stream:sub(1, length),
            frames = table.concat(list, ", "),
        })
        line.stream = line.stream:sub(length + 1)
    end
    result.pending = #line.stream
end

-- The first pass over a frame: how it stands in the numbering, and the packets it completes.
local function analyse(number, direction, bytes)
    local result = { packets = {}, pending = 0 }
    if #bytes < 5 or #bytes < bytes:byte(3) + 5 then
        return result
    end
    local frame_type, seq, length = bytes:byte(1), bytes:byte(2), bytes:byte(3)
    local good = crc16(bytes:sub(1, length + 3)) == be16(bytes, length + 4)
    local line = lines[direction]
    if frame_type == 0x41 and good then
        local data = bytes:sub(4, length + 3)
        local next_number = line.last and (line.last + 1) % 256
        if length == 0 then
            if line.last and seq ~= line.last and seq ~= next_number then
                result.probe = true
                line.probes[seq] = number
            end
            return result
        end
        if line.last and seq == line.last and data == line.last_data then
            result.repeat_of = line.last_frame
            return result
        end
        if line.last and seq ~= next_number then
            if seq == 1 and line.last ~= 0 then
                -- A new link starts at 1; what the old one left unfinished is gone.
                result.restart = true
                line.stream, line.pieces = "", {}
            else
                result.gap_expected = next_number
            end
        end
        line.last, line.last_frame, line.last_data = seq, number, data
        deliver(line, number, data, result)
    elseif frame_type == 0x06 or frame_type == 0x15 then
        local other = lines[1 - direction]
        if other.probes[seq] then
            result.probe_answer_to = other.probes[seq]
            other.probes[seq] = nil
        end
    end
    return result
end

local function add_packet(packet, pinfo, tree)
    local tvb = ByteArray.new(packet.bytes, true):tvb("Tunnel packet")
    local length = tvb(0, 2):uint()
    local item = tree:add(pinpad, tvb(), "Tunnel packet")
    item:add(f.packet_frames, packet.frames)
    item:add(f.packet_length, tvb(0, 2))
    if length <= 4 then
        item:add_proto_expert_info(e.malformed, "Packet too short to carry an action")
        return "malformed packet"
    end
    local action = tvb(2, 1):uint()
    local socket = tvb(3, 4):uint()
    item:add(f.packet_action, tvb(2, 1))
    item:add(f.packet_socket, tvb(3, 4))
    local name = ACTIONS[action] or ("action " .. action)
    local summary = name .. " #" .. socket
    local wanted = ACTION_LENGTHS[action]
    if not ACTIONS[action] then
        item:add_proto_expert_info(e.malformed, "Unknown action " .. action)
    elseif wanted and length ~= wanted then
        item:add_proto_expert_info(e.malformed, name .. " must have length " .. wanted)
        return summary .. " (malformed)"
    end
    if action == 1 or action == 3 then
        item:add(f.packet_address, tvb(7, 4))
        item:add(f.packet_port, tvb(11, 2))
        summary = summary .. " " .. tostring(tvb(7, 4):ipv4()) .. ":" .. tvb(11, 2):uint()
    elseif action == 2 then
        item:add(f.packet_port, tvb(7, 2))
        summary = summary .. " port " .. tvb(7, 2):uint()
    elseif action == 4 then
        item:add(f.packet_error, tvb(7, 4))
        summary = summary .. " error " .. tvb(7, 4):uint()
    elseif action == 7 or action == 8 then
        local count = length - 5
        summary = summary .. " " .. count .. " bytes"
        if count > 0 then
            item:add(f.packet_data, tvb(7, count))
            data_dissector:call(tvb(7, count):tvb(), pinfo, item)
        end
    end
    item:append_text(": " .. summary)
    return summary
end

local function dissect_frame(tvb, pinfo, tree, number)
    local bytes = tvb:raw()
    local info = {}
    if #bytes < 5 or #bytes < bytes:byte(3) + 5 then
        local item = tree:add(tvb(), "Frame too short: " .. #bytes .. " bytes")
        item:add_proto_expert_info(e.malformed, "Frame shorter than its header and check")
        return "malformed frame (" .. #bytes .. " bytes)"
    end
    local frame_type, seq, length = bytes:byte(1), bytes:byte(2), bytes:byte(3)
    local type_item = tree:add(f.frame_type, tvb(0, 1))
    tree:add(f.frame_seq, tvb(1, 1))
    tree:add(f.frame_len, tvb(2, 1))
    if length > 0 then
        tree:add(f.frame_data, tvb(3, length))
    end
    local check_item = tree:add(f.frame_check, tvb(length + 3, 2))
    local good = crc16(bytes:sub(1, length + 3)) == be16(bytes, length + 4)
    tree:add(f.frame_check_good, good):set_generated()
    local name = FRAME_TYPES[frame_type] or string.format("type 0x%02X", frame_type)
    table.insert(info, name .. " " .. seq)
    if not good then
        check_item:add_proto_expert_info(e.bad_check, string.format(
            "Wrong check: should be 0x%04X", crc16(bytes:sub(1, length + 3))))
        table.insert(info, "[wrong check]")
    end
    if not FRAME_TYPES[frame_type] then
        type_item:add_proto_expert_info(e.malformed, "Unknown frame type")
    end
    if #bytes > length + 5 then
        tree:add_proto_expert_info(e.malformed, (#bytes - length - 5) .. " bytes after the check")
    end
    local result = analysis[number] or {}
    if frame_type == 0x41 then
        table.insert(info, "len=" .. length)
        if result.probe then
            tree:add(f.frame_probe, true):set_generated()
            tree:add_proto_expert_info(e.probe, "Probe " .. seq .. ": asks for the answer to the overdue frame")
            table.insert(info, "[probe]")
        elseif result.repeat_of then
            tree:add(f.frame_repeat, result.repeat_of):set_generated()
            tree:add_proto_expert_info(e.repeated, "Repeat of frame " .. seq .. " (not delivered again)")
            table.insert(info, "[repeat]")
        elseif result.gap_expected then
            tree:add(f.frame_gap, result.gap_expected):set_generated()
            tree:add_proto_expert_info(e.gap, "Gap: number " .. result.gap_expected .. " expected")
            table.insert(info, "[gap]")
        elseif result.restart then
            tree:add_proto_expert_info(e.restart)
        end
    elseif frame_type == 0x06 or frame_type == 0x15 then
        tree:add(f.frame_answers, tvb(1, 1)):set_generated()
        if frame_type == 0x15 then
            type_item:add_proto_expert_info(e.nak, "NAK: data frame " .. seq .. " refused")
        end
        if result.probe_answer_to then
            tree:add(f.frame_probe_answer, result.probe_answer_to):set_generated()
            table.insert(info, "[probe answer]")
        end
    end
    for _, packet in ipairs(result.packets or {}) do
        table.insert(info, add_packet(packet, pinfo, tree))
    end
    if result.pending and result.pending > 0 then
        table.insert(info, "[" .. result.pending .. " bytes of a packet to come]")
    end
    return table.concat(info, " ")
end

function pinpad.dissector(tvb, pinfo, tree)
    if tvb:len() < 2 then
        return 0
    end
    pinfo.cols.protocol = "PINPAD"
    local direction = tvb(0, 1):uint()
    local kind = tvb(1, 1):uint()
    local subtree = tree:add(pinpad, tvb())
    subtree:add(f.direction, tvb(0, 1))
    subtree:add(f.record, tvb(1, 1))
    if direction == 0 then
        pinfo.cols.src, pinfo.cols.dst = "terminal", "agent"
    else
        pinfo.cols.src, pinfo.cols.dst = "agent", "terminal"
    end
    local body = tvb(2):tvb()
    local summary
    if kind == 1 or direction > 1 then
        local item = subtree:add(f.garbage, tvb(2))
        item:add_proto_expert_info(e.garbage, "Garbage on the line: " .. body:len() .. " bytes")
        summary = "Garbage, " .. body:len() .. " bytes"
    else
        if not pinfo.visited then
            analysis[pinfo.number] = analyse(pinfo.number, direction, body:raw())
        end
        summary = dissect_frame(body, pinfo, subtree, pinfo.number)
    end
    subtree:append_text(", " .. summary)
    pinfo.cols.info = summary
    return tvb:len()
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, pinpad)
