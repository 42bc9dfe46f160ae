-- One step of the Ardour host test, run by ardour7-lua (Ardour's headless Lua interpreter) on the
-- Dummy backend:
--   session.lua make   DIR NAME FRAMES
--   session.lua insert DIR NAME FRAMES EXPORT FORMAT ID
--   session.lua gain   DIR NAME FRAMES EXPORT PARAMETER NORMALISED
--   session.lua reload DIR NAME FRAMES EXPORT PARAMETER|none
--   session.lua automate DIR NAME FRAMES EXPORT FORMAT ID LANE...
-- "make" builds the test session: a track "Scene" with as many inputs and outputs as the master
-- has channels (ORVALIS_ARDOUR_CHANNELS, 4 unless set) holding one region of FRAMES frames of as
-- many channels (its sources are overwritten with the test signal afterwards), no fades, and the
-- track's and master's panners bypassed, so that the master carries the channels as they are. "insert" puts the plug-in (FORMAT LV2, VST3 or VST, or none) at the top of the track;
-- "gain" sets one of its parameters; these two save and close the session, then load it once
-- more. "reload" reads the parameter back. "automate" inserts the plug-in as "insert" does, gives
-- it automation lanes in Play state and, like those two, saves, closes and loads the session. Each
-- then exports the session's first FRAMES frames to the file EXPORT (32-bit float WAV). Every line the test reads starts with "orvalis:"; the last
-- one is "orvalis: done".
--
-- Ardour 7.3's export corrupts its own heap now and then (with or without any plug-in), and the
-- damage aborts the process at the next frees: a second export, saving, or closing the session.
-- So each run exports once, as its last act, and then ends without tearing the session down
-- (ORVALIS_ARDOUR_TEARDOWN=1 closes it all the same, for the crash hunt). The plug-in's own
-- teardown still runs in the steps that change the session, which close it before the export.

io.stdout:setvbuf ("no") -- a crash must not swallow what was printed before it

local step, dir, name, frames = arg[1], arg[2], arg[3], tonumber (arg[4])

local function say (...)
	print ("orvalis: " .. table.concat ({ ... }, " "))
end

local function fail (message)
	say ("error", message)
	error (message)
end

local function scene_track ()
	local route = Session:route_by_name ("Scene")
	if route:isnil () then fail ("no track Scene") end
	return route
end

-- The plug-in's control inputs in Ardour's order: label, Ardour's control number (what
-- set_processor_param takes) and the value range.
local function controls (plugin)
	local list = {}
	-- VST 2.4 plug-ins answer every number, so the count bounds the walk.
	for n = 0, plugin:parameter_count () - 1 do
		local pid, ok = plugin:nth_parameter (n, true)
		if not ok[2] then break end
		if plugin:parameter_is_control (pid) and plugin:parameter_is_input (pid) then
			local _, pd = plugin:get_parameter_descriptor (pid, ARDOUR.ParameterDescriptor ())
			list[#list + 1] = { label = plugin:parameter_label (pid), which = n,
			                    lower = pd[2].lower, upper = pd[2].upper }
		end
	end
	return list
end

local function find_control (plugin, label)
	for _, c in ipairs (controls (plugin)) do
		if c.label == label then return c end
	end
	fail ("no parameter " .. label)
end

local function orvalis_insert (route)
	local proc = route:nth_plugin (0)
	if proc:isnil () then fail ("the track holds no plug-in") end
	return proc
end

local function report_plugin (proc)
	local plugin = proc:to_insert ():plugin (0)
	say ("plugin", plugin:name ())
	for _, c in ipairs (controls (plugin)) do
		say ("parameter", c.label)
	end
	-- Ardour learns a latency change after the next cycles: give it a few.
	ARDOUR.LuaAPI.usleep (200000)
	say ("latency", proc:to_insert ():signal_latency ())
end

local function export (path)
	local folder, file = path:match ("^(.*)/([^/]+)%.wav$")
	local e = Session:simple_export ()
	if not e:set_preset (os.getenv ("ORVALIS_EXPORT_PRESET")) then fail ("no export preset") end
	e:set_range (0, frames)
	e:set_folder (folder)
	e:set_name (file)
	if not e:run_export () then fail ("the export failed") end
	say ("exported", path)
end

local function save ()
	if Session:save_state ("", false, false, false, false, false) ~= 0 then fail ("not saved") end
end

local steps = {}

function steps.make ()
	local channels = tonumber (os.getenv ("ORVALIS_ARDOUR_CHANNELS") or "4")
	local tracks = Session:new_audio_track (channels, channels, nil, 1, "Scene",
		ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, false, false)
	local track = tracks:front ()
	track:input ():disconnect_all (nil)
	local region = track:bounce_range (0, frames, ARDOUR.InterThreadInfo (), track:main_outs (),
	                                   false, "scene")
	if region:isnil () then fail ("bounce failed") end
	local audio = region:to_audioregion ()
	audio:set_fade_in_active (false)
	audio:set_fade_out_active (false)
	track:playlist ():add_region (region, Temporal.timepos_t (0), 1, false, 0, 0, false)
	track:panner_shell ():set_bypassed (true)
	Session:master_out ():panner_shell ():set_bypassed (true)
	for i = 0, audio:n_channels () - 1 do
		say ("source", region:source (i):to_filesource ():path ())
	end
	save ()
end

function steps.insert ()
	local format, id = arg[6], arg[7]
	if format ~= "none" then
		local types = { LV2 = ARDOUR.PluginType.LV2, VST3 = ARDOUR.PluginType.VST3,
		                VST = ARDOUR.PluginType.LXVST }
		local proc = ARDOUR.LuaAPI.new_plugin (Session, id, types[format], "")
		if proc:isnil () then fail ("Ardour cannot load " .. format .. " " .. id) end
		if scene_track ():add_processor_by_index (proc, 0, nil, true) ~= 0 then
			fail ("the track refused the plug-in")
		end
		report_plugin (proc)
	end
	save ()
end

function steps.gain ()
	local label, normalised = arg[6], tonumber (arg[7])
	if label ~= "none" then
		local proc = orvalis_insert (scene_track ())
		local c = find_control (proc:to_insert ():plugin (0), label)
		local value = c.lower + (c.upper - c.lower) * normalised
		if not ARDOUR.LuaAPI.set_processor_param (proc, c.which, value) then
			fail ("Ardour refused " .. label .. " = " .. value)
		end
		say ("set", label, string.format ("%.9g", value))
	end
	save ()
end

-- Lanes in Play state on the plug-in's parameters, one argument each: "LABEL=FRAME:NORMALISED,...",
-- the values normalised (0..1) and mapped onto the parameter's range as the gain step maps them.
-- Ardour keeps a plug-in's lanes in musical time (at 120 bpm one tick is 12.5 frames), so points
-- closer than that merge; it joins them with straight lines.
function steps.automate ()
	steps.insert ()
	local proc = orvalis_insert (scene_track ())
	local insert = proc:to_insert ()
	local plugin = insert:plugin (0)
	for i = 8, #arg do
		local label, points = arg[i]:match ("^([^=]+)=(.*)$")
		local c = find_control (plugin, label)
		local pid = plugin:nth_parameter (c.which, true)
		local control = insert:to_automatable ():automation_control (
			Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, pid), false)
		if control:isnil () then fail ("no automation control for " .. label) end
		local list = control:alist ()
		list:clear_list ()
		local count = 0
		for frame, normalised in points:gmatch ("([^:,]+):([^:,]+)") do
			local value = c.lower + (c.upper - c.lower) * tonumber (normalised)
			list:add (Temporal.timepos_t (tonumber (frame)), value, false, false)
			count = count + 1
		end
		control:set_automation_state (ARDOUR.AutoState.Play)
		say ("lane", label, count, "points")
	end
	say ("block", Session:get_block_size ())
	save ()
end

function steps.reload ()
	local label = arg[6]
	local proc = scene_track ():nth_plugin (0)
	if not proc:isnil () then report_plugin (proc) end
	if label ~= "none" then
		proc = orvalis_insert (scene_track ())
		local c = find_control (proc:to_insert ():plugin (0), label)
		local value = ARDOUR.LuaAPI.get_processor_param (proc, c.which, true)
		local normalised = (value - c.lower) / (c.upper - c.lower)
		say ("value", label, string.format ("%.9g", normalised))
	end
end

-- Every reference to the session's objects must be gone before the session is: Lua's collector
-- would otherwise destroy a route after its session, when the interpreter shuts down.
local function close ()
	collectgarbage ()
	collectgarbage ()
	close_session ()
end

local function load ()
	if not load_session (dir, name) then fail ("cannot load " .. dir) end
end

if not steps[step] then error ("unknown step " .. tostring (step)) end
if not AudioEngine:set_backend ("None (Dummy)", "", "") then fail ("no Dummy backend") end
load ()
say ("rate", Session:nominal_sample_rate ())
steps[step] ()
if step ~= "reload" then close () end
if step ~= "make" then
	-- The reload step exports the session it loaded; the others close theirs (the plug-in's
	-- teardown) and export it as loaded again.
	if step ~= "reload" then load () end
	export (arg[5])
	if os.getenv ("ORVALIS_ARDOUR_TEARDOWN") == "1" then
		close ()
	else
		-- The engine stops first: its process thread must not run plug-ins while exit() destroys
		-- the libraries' static objects.
		AudioEngine:stop (false)
		say ("done")
		os.exit (0, false)
	end
end
say ("done")
