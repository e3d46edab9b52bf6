-- wrk script for the in-process load test: a mix of the manager page with
-- the stored password in the query, the report and playlist posts. Every
-- answer is checked against the request it belongs to: the report must show
-- the query and the X-Token header of one request, the manager page must
-- have let its password in, and a playlist must hold every song of the one
-- genre it asked for, each once. done() prints the counts the test reads.

local password = "Tango42"
local path = "/audiojs/playlist.cgi"
local genres = { { "Tango", 10 }, { "Rumba", 10 }, { "Cha+Cha", 2, "Cha Cha" } }
local ending = "</html>\r\n"
local threads = {}

-- Per thread; globals, so done() can read them with thread:get.
counter = 0
answers, wrong, reason = 0, 0, ""

function setup(thread)
  thread:set("id", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  counter = id * 1000000
end

function request()
  counter = counter + 1
  local kind = counter % 3
  if kind == 0 then
    return wrk.format("GET", path .. "?X" .. password .. "-" .. counter)
  elseif kind == 1 then
    return wrk.format("GET", path .. "?S" .. counter, { ["X-Token"] = tostring(counter) })
  end
  local genre = genres[(math.floor(counter / 3) % #genres) + 1]
  local body = "command=playlistgen&" .. genre[1] .. "=AddGenre&numsongs=15"
  return wrk.format("POST", path, { ["Content-Type"] = "application/x-www-form-urlencoded" }, body)
end

local function check_report(body)
  local query = body:match("\r\nQUERY_STRING=S(%d+)<br>\r\n")
  local token = body:match("\r\nHTTP_X_TOKEN=(%d+)<br>\r\n")
  if not query or not token then return "report without its query or token" end
  if query ~= token then return "report of query S" .. query .. " shows token " .. token end
  local _, queries = body:gsub("QUERY_STRING=", "")
  if queries ~= 1 then return "report with " .. queries .. " query strings" end
  if not body:find("\r\nREQUEST_METHOD=GET<br>\r\n", 1, true) then return "report without its method" end
end

local function check_manager(body)
  if not body:find('type="text" value="' .. password .. '"></td></tr>', 1, true) then
    return "manager page without the stored password"
  end
  if not body:find('type="text" value="smtp.example.org"></td></tr>', 1, true) then
    return "manager page without the stored host"
  end
end

local function check_playlist(body)
  local seen, count, genre = {}, 0, nil
  for g, title in body:gmatch('<li><a href="#" data%-src="[^"]*">%((.-)%) (.-)</a></li>') do
    if genre and g ~= genre then return "playlist mixes " .. genre .. " and " .. g end
    genre = g
    if seen[title] then return "playlist draws " .. title .. " twice" end
    seen[title] = true
    count = count + 1
  end
  for _, entry in ipairs(genres) do
    if (entry[3] or entry[1]) == genre then
      if count ~= entry[2] then return "playlist of " .. genre .. " with " .. count .. " songs" end
      return nil
    end
  end
  return "playlist of no known genre"
end

function response(status, headers, body)
  answers = answers + 1
  local why
  local length = headers["Content-Length"] or headers["content-length"]
  if status ~= 200 then
    why = "status " .. status
  elseif length and tonumber(length) ~= #body then
    why = "length " .. length .. " for a body of " .. #body
  elseif body:sub(-#ending) ~= ending then
    why = "incomplete answer"
  elseif body:find("Password Error", 1, true) then
    why = "password refused"
  elseif body:find("- REPORT -", 1, true) then
    why = check_report(body)
  elseif body:find("Logger Manager", 1, true) then
    why = check_manager(body)
  elseif body:find("<li>", 1, true) then
    why = check_playlist(body)
  else
    why = "unknown answer"
  end
  if why then
    wrong = wrong + 1
    if reason == "" then reason = why end
  end
end

function done(summary, latency, requests)
  local total, bad, first = 0, 0, ""
  for _, thread in ipairs(threads) do
    total = total + thread:get("answers")
    bad = bad + thread:get("wrong")
    if first == "" then first = thread:get("reason") end
  end
  io.write(string.format("checked=%d wrong=%d first_wrong=%s\n", total, bad, first))
end
