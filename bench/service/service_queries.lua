-- wrk script: cycles through the benchmark's query list (id,lat,lon,miles per line), each
-- thread starting at its own place. Usage: wrk ... -s service_queries.lua URL -- queries.csv
local paths = {}
local next_index = 1

function init(args)
  for line in io.lines(args[1]) do
    local lat, lon, miles = line:match("^[^,]+,([^,]+),([^,]+),([^,]+)")
    if lat then
      paths[#paths + 1] = "/counter/Strike_Counter.php?lat=" .. lat .. "&lon=" .. lon .. "&distance=" .. miles
    end
  end
  math.randomseed(os.time() + (tonumber(tostring({}):match("0x(%x+)"), 16) or 0))
  next_index = math.random(#paths)
end

function request()
  next_index = next_index % #paths + 1
  return wrk.format("GET", paths[next_index])
end
