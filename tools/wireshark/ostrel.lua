-- Wireshark dissector for captures written by `aclctl --pcap` and
-- `aclsvc-sim --pcap`: pcapng under link type 147 (LINKTYPE_USER0), each
-- packet a 20-byte big-endian frame head (version, direction, kind, flags,
-- token, opcode, error, payload length) followed by the payload. A send
-- carries a programming batch or a TLV policy update request, a reply the
-- service's 4-byte status word. Malformed messages are flagged as expert
-- info with the reason.
--
--   tshark -X lua_script:tools/wireshark/ostrel.lua -r capture.pcapng -V

local p = Proto("ostrel", "ACL service message transport")

local directions = {[0] = "client to service", [1] = "service to client"}
local kinds = {[1] = "send", [2] = "accept", [3] = "reply"}
local ops = {[1] = "install", [2] = "remove"}
local roles = {"ace", "close", "end", "empty", "other"}
local statuses = {
    [0x00000000] = "ok", [0x41040002] = "no entry",
    [0x41040003] = "invalid argument", [0xe0000001] = "malformed message",
    [0xe0000002] = "unknown opcode",
}
local tlv_names = {
    [1] = "plcy_op", [2] = "plcy_tlv2", [4] = "dst_tlv4", [5] = "dst_tlv5",
    [6] = "dst_vlan", [7] = "dst_if_index", [8] = "fltr_tlv8",
    [9] = "fltr_qualifier", [10] = "actn_tlv10", [11] = "actn_tlv11",
    [12] = "plcy", [13] = "dst", [14] = "fltr", [15] = "actn",
    [16] = "num_aces", [17] = "ace", [18] = "resp_tlv18",
    [19] = "fltr_addr1", [20] = "fltr_addr2", [21] = "fltr_addr3",
    [22] = "fltr_addr4",
}
local nested = {[12] = true, [13] = true, [14] = true, [15] = true,
                [17] = true}

local F = ProtoField
local f = {
    version = F.uint8("ostrel.version", "Version"),
    direction = F.uint8("ostrel.direction", "Direction", base.DEC, directions),
    kind = F.uint8("ostrel.kind", "Kind", base.DEC, kinds),
    flags = F.uint8("ostrel.flags", "Flags", base.HEX),
    token = F.uint32("ostrel.token", "Token"),
    opcode = F.uint32("ostrel.opcode", "Opcode"),
    error = F.int32("ostrel.error", "Error number"),
    length = F.uint32("ostrel.length", "Payload length"),
    status = F.uint32("ostrel.status", "Status", base.HEX, statuses),
    word0 = F.uint32("ostrel.batch.word0", "Word 0"),
    count = F.uint32("ostrel.batch.count", "Requests"),
    op = F.uint32("ostrel.req.op", "Operation", base.DEC, ops),
    tlv2 = F.uint32("ostrel.req.tlv2", "plcy_tlv2"),
    tlv4 = F.uint32("ostrel.req.tlv4", "dst_tlv4"),
    tlv5 = F.uint16("ostrel.req.tlv5", "dst_tlv5"),
    vlan = F.uint16("ostrel.req.vlan", "VLAN"),
    intf = F.uint32("ostrel.req.intf", "Interface index"),
    num_aces = F.uint32("ostrel.req.num_aces", "Records"),
    slot = F.uint32("ostrel.rec.slot", "Slot"),
    role = F.string("ostrel.rec.role", "Role"),
    tlv8 = F.uint32("ostrel.rec.tlv8", "fltr_tlv8"),
    fflags = F.uint64("ostrel.rec.flags", "fltr_flags", base.HEX),
    qual = F.uint16("ostrel.rec.qual", "Qualifier"),
    addr1 = F.ether("ostrel.rec.addr1", "fltr_addr1"),
    addr2 = F.ether("ostrel.rec.addr2", "fltr_addr2"),
    addr3 = F.ether("ostrel.rec.addr3", "fltr_addr3"),
    addr4 = F.ether("ostrel.rec.addr4", "fltr_addr4"),
    aflags = F.uint64("ostrel.rec.actn_flags", "actn_flags", base.HEX),
    tlv10 = F.uint32("ostrel.rec.tlv10", "actn_tlv10"),
    tlv11 = F.uint32("ostrel.rec.tlv11", "actn_tlv11"),
    arr_len = F.uint32("ostrel.tlv.array_length", "TLV array length"),
    tlv_type = F.uint16("ostrel.tlv.type", "TLV type", base.DEC, tlv_names),
    tlv_len = F.uint16("ostrel.tlv.length", "TLV length"),
    tlv_uint = F.uint64("ostrel.tlv.uint", "Value"),
    tlv_ether = F.ether("ostrel.tlv.ether", "Address"),
    tlv_bytes = F.bytes("ostrel.tlv.bytes", "Value"),
    message = F.string("ostrel.message", "Message"),
}
local fields = {}
for _, v in pairs(f) do fields[#fields + 1] = v end
p.fields = fields

local malformed = ProtoExpert.new("ostrel.malformed", "Malformed message",
                                  expert.group.MALFORMED,
                                  expert.severity.ERROR)
local replaced = ProtoExpert.new("ostrel.replaced",
                                 "ACE record replaced by the closing record",
                                 expert.group.SEQUENCE, expert.severity.NOTE)
p.experts = {malformed, replaced}

-- Reads of the payload in the sender's byte order.
local function reader(tvb, big)
    local r = {}
    function r.u16(o) return big and tvb(o, 2):uint() or tvb(o, 2):le_uint() end
    function r.u32(o) return big and tvb(o, 4):uint() or tvb(o, 4):le_uint() end
    function r.u64(o)
        return big and tvb(o, 8):uint64() or tvb(o, 8):le_uint64()
    end
    function r.add(tree, field, o, n)
        return big and tree:add(field, tvb(o, n)) or tree:add_le(field, tvb(o, n))
    end
    return r
end

local function zero(tvb, o, n)
    for i = 0, n - 1 do
        if tvb(o + i, 1):uint() ~= 0 then return false end
    end
    return true
end

-- The role of a 64-byte record as the request builder writes them.
local function role(tvb, r, o)
    local tlv8, flags = r.u32(o), r.u64(o + 8):tonumber()
    local pads = zero(tvb, o + 4, 4) and zero(tvb, o + 42, 6)
    local actn = r.u64(o + 48):tonumber() == 1 and r.u32(o + 60) == 0
    local tlv10 = r.u32(o + 56)
    if tlv8 == 3 and flags == 1 and pads and zero(tvb, o + 24, 6) and
        zero(tvb, o + 36, 6) and actn and tlv10 == 1 then return "ace" end
    if tlv8 == 3 and flags == 0 and pads and zero(tvb, o + 18, 24) and
        actn and tlv10 == 0 then return "close" end
    if tlv8 == 1 and flags == 0 and r.u16(o + 16) == 0 and pads and
        zero(tvb, o + 18, 24) and actn and tlv10 == 0 then return "end" end
    if zero(tvb, o, 64) then return "empty" end
    return "other"
end

local function record(tvb, r, tree, o, slot, quals)
    local what = role(tvb, r, o)
    local t = tree:add(p, tvb(o, 64), "Slot " .. slot .. ": " .. what)
    t:add(f.slot, slot):set_generated()
    t:add(f.role, what):set_generated()
    r.add(t, f.tlv8, o, 4)
    r.add(t, f.fflags, o + 8, 8)
    r.add(t, f.qual, o + 16, 2)
    t:add(f.addr1, tvb(o + 18, 6))
    t:add(f.addr2, tvb(o + 24, 6))
    t:add(f.addr3, tvb(o + 30, 6))
    t:add(f.addr4, tvb(o + 36, 6))
    r.add(t, f.aflags, o + 48, 8)
    r.add(t, f.tlv10, o + 56, 4)
    r.add(t, f.tlv11, o + 60, 4)
    local q = r.u16(o + 16)
    if what == "ace" then
        quals[q] = true
        t:append_text(", qual " .. q)
    elseif what == "close" then
        t:append_text(", qual " .. q)
        -- The closing record carries the qualifier of the last ACE record
        -- written; when no record shows it, the closing record took its slot.
        if q ~= 0 and not quals[q] then
            t:add_proto_expert_info(replaced, "slot " .. slot .. ": qual " ..
                                    q .. ", replaced by the closing record")
        end
    end
end

-- "1 byte", "2 bytes": a count with its noun in the right number.
local function counted(n, one)
    return n .. " " .. one .. (n == 1 and "" or "s")
end

-- Batch validation, as the service does it: nil, or the reason.
local function batch_problem(tvb, r, n)
    if n < 8 then return "batch of " .. counted(n, "byte") .. " is shorter than its 8-byte head" end
    if n > 130056 then return "batch of " .. counted(n, "byte") .. " is longer than the 130056-byte block" end
    local w0 = r.u32(0)
    if w0 > 1 then return "batch word 0 is " .. w0 .. ", not 0 or 1" end
    local count = r.u32(4)
    if count > math.floor((n - 8) / 24) then
        return "batch claims " .. counted(count, "request") .. ", more than " .. counted(n, "byte") .. " can hold"
    end
    local at = 8
    for i = 1, count do
        if n - at < 24 then return "request " .. i .. " of " .. count .. ": head runs past the end of the batch" end
        local aces = r.u32(at + 20)
        if aces > math.floor((n - at - 24) / 64) then
            return "request " .. i .. " of " .. count .. ": " .. counted(aces, "record") ..
                   (aces == 1 and " runs" or " run") .. " past the end of the batch"
        end
        at = at + 24 + 64 * aces
    end
    if at ~= n then return counted(n - at, "byte") .. (n - at == 1 and " follows" or " follow") .. " the last request of the batch" end
    return nil
end

local function batch(tvb, r, tree, n)
    local t = tree:add(p, tvb(0, n), "Programming batch")
    r.add(t, f.word0, 0, 4)
    r.add(t, f.count, 4, 4)
    local at = 8
    for i = 1, r.u32(4) do
        local aces = r.u32(at + 20)
        local rt = t:add(p, tvb(at, 24 + 64 * aces), "Request " .. i .. ": " ..
                         (ops[r.u32(at)] or "op " .. r.u32(at)) .. " vlan " ..
                         r.u16(at + 14) .. " intf " .. r.u32(at + 16))
        r.add(rt, f.op, at, 4)
        r.add(rt, f.tlv2, at + 4, 4)
        r.add(rt, f.tlv4, at + 8, 4)
        r.add(rt, f.tlv5, at + 12, 2)
        r.add(rt, f.vlan, at + 14, 2)
        r.add(rt, f.intf, at + 16, 4)
        r.add(rt, f.num_aces, at + 20, 4)
        local quals = {}
        for k = 0, aces - 1 do record(tvb, r, rt, at + 24 + 64 * k, k, quals) end
        at = at + 24 + 64 * aces
    end
    return "batch, " .. counted(r.u32(4), "request")
end

-- One TLV array at o (header and body); false with the reason when a TLV
-- runs past the array or the array past its space.
local function tlv_array(tvb, r, tree, o, space, pinfo)
    if space < 4 then return false, "TLV array header cut short" end
    local len = tvb(o, 4):uint()
    if len > space - 4 then
        return false, "TLV array header claims " .. counted(len, "byte") .. ", " ..
                      (space - 4) .. (space - 4 == 1 and " follows" or " follow")
    end
    tree:add(f.arr_len, tvb(o, 4))
    local at, stop = o + 4, o + 4 + len
    while at < stop do
        if stop - at < 4 then return false, "TLV header cut short" end
        local ty, vl = tvb(at, 2):uint(), tvb(at + 2, 2):uint()
        if vl > stop - at - 4 then
            return false, "TLV " .. ty .. " claims " .. counted(vl, "byte") .. " past the array"
        end
        local t = tree:add(p, tvb(at, 4 + vl), "TLV " .. ty .. " " ..
                           (tlv_names[ty] or "unknown") .. ", " .. counted(vl, "byte"))
        t:add(f.tlv_type, tvb(at, 2))
        t:add(f.tlv_len, tvb(at + 2, 2))
        if nested[ty] then
            local ok, why = tlv_array(tvb, r, t, at + 4, vl, pinfo)
            if not ok then return false, why end
        elseif ty >= 19 and ty <= 22 and vl == 6 then
            t:add(f.tlv_ether, tvb(at + 4, 6))
        elseif vl == 2 or vl == 4 or vl == 8 then
            local v = vl == 8 and r.u64(at + 4) or
                      UInt64(vl == 4 and r.u32(at + 4) or r.u16(at + 4))
            t:add(f.tlv_uint, tvb(at + 4, vl), v)
            t:append_text(": " .. tostring(v))
        elseif vl > 0 then
            t:add(f.tlv_bytes, tvb(at + 4, vl))
        end
        at = at + 4 + vl
    end
    return true
end

-- Which shape a malformed message is closest to: a batch's first four
-- bytes are word 0 (0 or 1), a TLV array header's first byte is zero.
local function resembles_update(tvb, n)
    if n < 4 or tvb(0, 1):uint() ~= 0 then return false end
    local b = tvb(1, 3):uint()
    return b ~= 0 and b ~= 1
end

local function message(tvb, r, tree, pinfo)
    local n = tvb:len()
    local why = batch_problem(tvb, r, n)
    if why == nil then return batch(tvb, r, tree, n) end
    if n >= 4 and tvb(0, 4):uint() == n - 4 then
        local t = tree:add(p, tvb(), "Policy update request")
        local ok, reason = tlv_array(tvb, r, t, 0, n, pinfo)
        if ok then return "policy update" end
        t:add_proto_expert_info(malformed, "policy update: " .. reason)
        return "malformed policy update"
    end
    local t = tree:add(p, tvb(), "Malformed message")
    if resembles_update(tvb, n) then
        local _, reason = tlv_array(tvb, r, t, 0, n, pinfo)
        why = "policy update of " .. counted(n, "byte") .. ": " .. (reason or "bad length")
    end
    t:add_proto_expert_info(malformed, why)
    return "malformed"
end

function p.dissector(buf, pinfo, root)
    pinfo.cols.protocol = "OSTREL"
    local tree = root:add(p, buf(), "ACL service frame")
    if buf:len() < 20 then
        tree:add_proto_expert_info(malformed, "frame of " .. buf:len() ..
                                   " bytes is shorter than its 20-byte head")
        return
    end
    tree:add(f.version, buf(0, 1))
    tree:add(f.direction, buf(1, 1))
    tree:add(f.kind, buf(2, 1))
    tree:add(f.flags, buf(3, 1))
    tree:add(f.token, buf(4, 4))
    tree:add(f.opcode, buf(8, 4))
    tree:add(f.error, buf(12, 4))
    tree:add(f.length, buf(16, 4))
    local kind, token = buf(2, 1):uint(), buf(4, 4):uint()
    local length = buf(16, 4):uint()
    if length ~= buf:len() - 20 then
        tree:add_proto_expert_info(malformed, "frame claims " .. length ..
                                   " payload bytes, the packet holds " ..
                                   (buf:len() - 20))
        return
    end
    local info = (kinds[kind] or "kind " .. kind) .. " token " .. token
    local payload = buf(20):tvb()
    local r = reader(payload, bit.band(buf(3, 1):uint(), 1) == 1)
    if kind == 1 and length > 0 then
        local text = message(payload, r, tree, pinfo)
        tree:add(f.message, text):set_generated()
        info = info .. ", " .. text
    elseif kind == 2 and buf(12, 4):int() ~= 0 then
        info = info .. ", refused, errno " .. buf(12, 4):int()
    elseif kind == 3 and length >= 4 then
        r.add(tree, f.status, 0, 4)
        local s = r.u32(0)
        info = info .. string.format(", status 0x%08x (%s)", s,
                                     statuses[s] or "unknown")
    end
    pinfo.cols.info = info
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, p)
