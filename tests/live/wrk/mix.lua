-- A mix of visitor and operator requests against the playlist program, each
-- answer checked against what its own request must produce.
--
-- Arguments (after "--"): the stored manager password, the genre folders
-- (comma-separated) and the number of songs every playlist asks for. Run it
-- with as many threads as connections: each thread then has one connection
-- and no pipelining, so a thread's answers come in the order of its requests
-- and a queue pairs each answer with its request.
--
-- done() prints one line per request kind and a summary line, all starting
-- with "LOAD ", as key=value pairs for the test to read.

local threads = {}

function setup(thread)
    thread:set("id", #threads + 1)
    table.insert(threads, thread)
end

local FOOTER_END = "</font></center></body></html>\r\n"
local PAGE_END = "<!-- end of playlist page -->\r\n"
local ITEM = '<li><a href="#" data-src="'
local KINDS = { "genre", "playlist", "diag_on", "diag_off", "manager_refused", "manager_open" }

local password, genres, numsongs
local pending = {}  -- FIFO of {kind, genres} for the requests in flight
local head, tail = 1, 0
local sent, answered, failed, passed_gate = {}, {}, {}, 0
local first_failure = nil
local counter = 0
local requests = {}

local function split(text)
    local out = {}
    for part in string.gmatch(text, "[^,]+") do table.insert(out, part) end
    return out
end

local function urlencode(text)
    return (string.gsub(text, "[^%w%-_%.]", function(c) return string.format("%%%02X", string.byte(c)) end))
end

-- wrk asks the first thread's request() once more before the run, only to
-- look at the request; that call is no request and must not be queued.
local looked_at = false

function init(args)
    looked_at = tonumber(wrk.thread:get("id")) == 1
    password = args[1]
    genres = split(args[2])
    numsongs = tonumber(args[3])
    for _, kind in ipairs(KINDS) do sent[kind], answered[kind], failed[kind] = 0, 0, 0 end
    local form = { ["Content-Type"] = "application/x-www-form-urlencoded" }
    local cgi = "/audiojs/playlist.cgi"
    -- Playlists ask for one genre, or for two neighbouring ones.
    local playlists = {}
    for i, genre in ipairs(genres) do
        local other = genres[i % #genres + 1]
        table.insert(playlists, { genres = { genre },
            body = "command=playlistgen&" .. urlencode(genre) .. "=AddGenre&numsongs=" .. numsongs })
        table.insert(playlists, { genres = { genre, other },
            body = "command=playlistgen&" .. urlencode(genre) .. "=AddGenre&" .. urlencode(other) ..
                   "=AddGenre&numsongs=" .. numsongs })
    end
    -- The weights of the mix: playlists most, then genre pages and the gate.
    local plan = { "playlist", "playlist", "playlist", "genre", "genre", "diag_on", "diag_off",
                   "manager_refused", "manager_refused", "manager_open" }
    for i, kind in ipairs(plan) do
        if kind == "playlist" then
            for j, p in ipairs(playlists) do
                if (j + i) % 3 == 0 then
                    table.insert(requests, { kind = kind, genres = p.genres,
                        text = wrk.format("POST", cgi, form, p.body) })
                end
            end
        else
            local query = ({ genre = "P", diag_on = "D", diag_off = "d", manager_refused = "X",
                             manager_open = "X" .. urlencode(password) })[kind]
            table.insert(requests, { kind = kind, text = wrk.format("GET", cgi .. "?" .. query) })
        end
    end
end

function request()
    if looked_at then
        looked_at = false
        return requests[1].text
    end
    counter = counter + 1
    local r = requests[(counter - 1) % #requests + 1]
    tail = tail + 1
    pending[tail] = r
    sent[r.kind] = sent[r.kind] + 1
    wrk.thread:set("sent_" .. r.kind, sent[r.kind])
    return r.text
end

local function ends_with(text, suffix)
    return #text >= #suffix and string.sub(text, -#suffix) == suffix
end

local function count(text, plain)
    local n, at = 0, 1
    while true do
        local found = string.find(text, plain, at, true)
        if not found then return n end
        n, at = n + 1, found + #plain
    end
end

local function has(text, plain) return string.find(text, plain, 1, true) ~= nil end

-- Why an answer is not what its request must produce, or nil when it is.
local function fault(r, status, body)
    if status ~= 200 then return "status " .. status end
    if r.kind == "diag_on" then
        return body ~= "Diagnostics are:\r\nON\r\n" and "toggle answer" or nil
    elseif r.kind == "diag_off" then
        return body ~= "Diagnostics are:\r\nOFF\r\n" and "toggle answer" or nil
    elseif r.kind == "manager_refused" then
        if has(body, "Kestrine2") then
            passed_gate = passed_gate + 1
            return "gate passed without the password"
        end
        if string.sub(body, 1, 16) ~= "Password Error\r\n" or not ends_with(body, FOOTER_END)
            or count(body, "\r\n") ~= 2 then
            return "refusal incomplete"
        end
    elseif r.kind == "manager_open" then
        if not has(body, " - Kestrine2 Logger Manager - ") or not has(body, 'value="' .. password .. '"')
            or not ends_with(body, FOOTER_END) then
            return "manager page incomplete"
        end
    elseif r.kind == "genre" then
        if not has(body, "<title>Valsetto Playlist Generator</title>") or not ends_with(body, FOOTER_END) then
            return "genre page incomplete"
        end
        if count(body, 'value="AddGenre"') ~= #genres then return "genre rows missing" end
    elseif r.kind == "playlist" then
        if not has(body, "<!-- playlist page -->") or not ends_with(body, PAGE_END) then
            return "playlist page incomplete"
        end
        if count(body, ITEM) ~= numsongs then return "playlist length " .. count(body, ITEM) end
        for title in string.gmatch(body, '<li><a href="#" data%-src="[^"]*">%(([^)]*)%)') do
            local ok = false
            for _, g in ipairs(r.genres) do ok = ok or g == title end
            if not ok then return "song of genre " .. title end
        end
    end
    return nil
end

function response(status, headers, body)
    local r = pending[head]
    pending[head] = nil
    head = head + 1
    if r == nil then
        first_failure = first_failure or "an answer without a request"
        wrk.thread:set("first_failure", first_failure)
        return
    end
    answered[r.kind] = answered[r.kind] + 1
    local why = fault(r, status, body or "")
    if why then
        failed[r.kind] = failed[r.kind] + 1
        if not first_failure then
            first_failure = r.kind .. ": " .. why .. ": " .. string.sub(string.gsub(body or "", "[\r\n]", "|"), 1, 300)
        end
    end
    -- Publish the counts as they stand: the last answer of a run may come at any time.
    wrk.thread:set("answered_" .. r.kind, answered[r.kind])
    wrk.thread:set("failed_" .. r.kind, failed[r.kind])
    wrk.thread:set("answered", head - 1)
    wrk.thread:set("passed_gate", passed_gate)
    if first_failure then wrk.thread:set("first_failure", first_failure) end
end

function done(summary, latency, _)
    local totals = {}
    local answered, gate = 0, 0
    local first = nil
    for _, thread in ipairs(threads) do
        for _, kind in ipairs(KINDS) do
            local t = totals[kind] or { sent = 0, answered = 0, failed = 0 }
            t.sent = t.sent + (tonumber(thread:get("sent_" .. kind)) or 0)
            t.answered = t.answered + (tonumber(thread:get("answered_" .. kind)) or 0)
            t.failed = t.failed + (tonumber(thread:get("failed_" .. kind)) or 0)
            totals[kind] = t
        end
        answered = answered + (tonumber(thread:get("answered")) or 0)
        gate = gate + (tonumber(thread:get("passed_gate")) or 0)
        first = first or thread:get("first_failure")
    end
    for _, kind in ipairs(KINDS) do
        io.write(string.format("LOAD kind=%s sent=%d answered=%d failed=%d\n", kind, totals[kind].sent,
                               totals[kind].answered, totals[kind].failed))
    end
    local e = summary.errors
    io.write(string.format(
        "LOAD summary requests=%d answered=%d duration_us=%d rps=%.1f p50_us=%d p99_us=%d max_us=%d " ..
        "connect=%d read=%d write=%d status=%d timeout=%d passed_gate=%d\n",
        summary.requests, answered, summary.duration, summary.requests / (summary.duration / 1e6),
        latency:percentile(50), latency:percentile(99), latency.max,
        e.connect, e.read, e.write, e.status, e.timeout, gate))
    if first then io.write("LOAD first_failure " .. first .. "\n") end
end
