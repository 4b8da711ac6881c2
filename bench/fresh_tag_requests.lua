-- wrk script: every request asks for a tag no request asked for before, so
-- that the server plans each one (its certificate table and checksum) instead
-- of finding it among the tags it keeps ready. Each wrk thread numbers its own
-- requests under an id of its own, which starts with the second the run
-- began, so that consecutive runs ask for different tags too.
local threads = 0
local started = os.time()

function setup(thread)
  threads = threads + 1
  thread:set("id", started .. "." .. threads)
end

function init(args)
  counter = 0
end

function request()
  counter = counter + 1
  return wrk.format("GET", wrk.path .. "%26n%3D" .. id .. "-" .. counter)
end
