-- Headless Neovim, through its own LSP client and the configuration a user
-- copies, against tolva-lsp: run as
--   nvim --headless --clean -c "luafile neovim.lua" CONFIG SERVER FILE
-- The file is opened, and what an editor asks of the server is checked.
-- Then the files of two roots: one server for each.
local argv = vim.v.argv
local config, server, file = argv[#argv - 2], argv[#argv - 1], argv[#argv]
local failures = 0
local function check(what, ok, detail)
  if not ok then
    failures = failures + 1
    io.stdout:write("FAIL: " .. what .. (detail and (": " .. vim.inspect(detail)) or "") .. "\n")
  end
end

-- The effects shown as virtual text, by line: what a reader sees.
local function effects_of(buffer)
  local lines, namespace = {}, vim.api.nvim_get_namespaces().tolva_effects
  if not namespace then return lines end
  local marks = vim.api.nvim_buf_get_extmarks(buffer, namespace, 0, -1, { details = true })
  for _, mark in ipairs(marks) do
    for _, chunk in ipairs(mark[4].virt_text) do
      lines[mark[2]] = (lines[mark[2]] and lines[mark[2]] .. " " or "") .. chunk[1]
    end
  end
  return lines
end

local function wait_for_effects(buffer, wanted)
  vim.wait(5000, function() return vim.deep_equal(effects_of(buffer), wanted) end, 50)
  return vim.deep_equal(effects_of(buffer), wanted)
end

-- Edits `path`: its buffer and the id of the client the configuration started for it.
local function open(path)
  vim.cmd("edit " .. vim.fn.fnameescape(path))
  local buffer = vim.api.nvim_get_current_buf()
  vim.wait(5000, function() return next(vim.lsp.buf_get_clients(buffer)) ~= nil end, 50)
  local client = next(vim.lsp.buf_get_clients(buffer))
  check("the configuration starts a server for " .. path, client ~= nil)
  return buffer, client
end

-- The result of a request about the buffer, which must not fail.
local function ask(buffer, client, method, params)
  params.textDocument = { uri = vim.uri_from_bufnr(buffer) }
  local reply = (vim.lsp.buf_request_sync(buffer, method, params, 5000) or {})[client] or {}
  check(method .. " answers", reply.err == nil, reply.err)
  return reply.result
end

local function at(line, character) return { position = { line = line, character = character } } end

local function run()
  -- The configuration starts the server found on the PATH for a .tv file.
  vim.env.PATH = vim.fn.fnamemodify(server, ":p:h") .. ":" .. vim.env.PATH
  vim.cmd("luafile " .. vim.fn.fnameescape(config))
  local buffer, client = open(file)

  -- Diagnostics arrive on their own once the document is open: what reading
  -- it finds, then what running it finds.
  local errors = { severity = vim.diagnostic.severity.ERROR }
  vim.wait(5000, function() return #vim.diagnostic.get(buffer, errors) > 0 end, 50)
  local diagnostics = vim.diagnostic.get(buffer)
  check("one diagnostic, tolva's report on the misspelt word, then why", #diagnostics == 1
    and diagnostics[1].lnum == 3 and diagnostics[1].col == 0
    and vim.startswith(diagnostics[1].message, "Domain error: unknown word - sqaure\n`sqaure` is neither"), diagnostics)
  check("the effect of square at the end of its line", wait_for_effects(buffer, { [1] = "( a -- b )" }),
    effects_of(buffer))

  local hover = ask(buffer, client, "textDocument/hover", at(2, 2))
  check("hover shows the definition and its comment", hover and hover.contents.value:find(":square dup %* ;")
    and hover.contents.value:find("Multiplies a number by itself."), hover)

  local builtin = ask(buffer, client, "textDocument/hover", at(1, 9))
  check("hover on a built-in shows its effect",
    builtin and builtin.contents.value:find("( x -- x x )", 1, true), builtin)

  local items = ask(buffer, client, "textDocument/completion", at(2, 1))
  local labels = {}
  for _, item in ipairs(items or {}) do labels[item.label] = item end
  check("completion offers the document's word and the built-ins", labels.square and labels.dup and labels.swap, items)

  local definition = ask(buffer, client, "textDocument/definition", at(2, 3))
  check("definition goes to :square",
    definition and #definition == 1 and definition[1].range.start.line == 1, definition)

  local rename = ask(buffer, client, "textDocument/rename", vim.tbl_extend("force", at(2, 3), { newName = "sq" }))
  local edits = rename and rename.changes and rename.changes[vim.uri_from_bufnr(buffer)]
  check("rename edits the definition and the use", edits and #edits == 2, rename)
  if edits then vim.lsp.util.apply_workspace_edit(rename, "utf-16") end
  check("the renamed buffer reads as it should", vim.api.nvim_buf_get_lines(buffer, 1, 3, false)[1] == ":sq dup * ;",
    vim.api.nvim_buf_get_lines(buffer, 0, -1, false))

  -- An edit that deletes the line with the effect and defines two words on
  -- the line the old mark moves to: both effects, in order, and nothing stale.
  vim.api.nvim_buf_set_lines(buffer, 0, 2, false, { ":pair 1 2 ; :sq dup * ;" })
  check("the effects follow an edit", wait_for_effects(buffer, { [0] = "( -- a b ) ( a -- b )" }), effects_of(buffer))

  vim.lsp.stop_client(client)
end

-- A folder whose name holds a blank, "#", "%" and a letter past ASCII: the
-- client sends its URI escaped, and the server must find the file that the
-- document includes beside it, and send its place back escaped.
local function odd_folder()
  local dir = vim.fn.tempname() .. "/my dir #1 100% ü"
  vim.fn.mkdir(dir, "p")
  vim.fn.writefile({ "\\ Multiplies a number by itself.", ":square dup * ;" }, dir .. "/lib.tv")
  vim.fn.writefile({ "( lib.tv ) included", "3 square . cr" }, dir .. "/main.tv")
  local buffer, client = open(dir .. "/main.tv")
  local found = ask(buffer, client, "textDocument/definition", at(1, 3))
  check("definition goes to :square in the included file", found and #found == 1
    and vim.uri_to_fname(found[1].uri) == dir .. "/lib.tv" and found[1].range.start.line == 1, found)
  -- The run's diagnostics were sent before that answer.
  check("no diagnostic: the included file is read", #vim.diagnostic.get(buffer) == 0, vim.diagnostic.get(buffer))
  vim.lsp.stop_client(client)
  vim.fn.delete(vim.fn.fnamemodify(dir, ":h"), "rf")
end

-- The language servers this Neovim runs, as the system sees them.
local function servers()
  local count = 0
  for _, stat in ipairs(vim.fn.glob("/proc/[0-9]*/stat", false, true)) do
    local read, lines = pcall(vim.fn.readfile, stat)
    local name, parent = (read and lines[1] or ""):match("^%d+ %((.*)%) %S+ (%d+)")
    if name == "tolva-lsp" and tonumber(parent) == vim.fn.getpid() then count = count + 1 end
  end
  return count
end

-- Three files of a project (one in a subfolder) opened at once, before its
-- server has answered initialize, and one of another folder.
local function roots()
  vim.wait(5000, function() return servers() == 0 end, 50)
  check("the servers stopped before have ended", servers() == 0, servers())
  vim.o.hidden = true
  local top = vim.fn.tempname()
  local project, other = top .. "/project", top .. "/other"
  vim.fn.mkdir(project .. "/.git", "p")
  vim.fn.mkdir(project .. "/lib", "p")
  vim.fn.mkdir(other, "p")
  local files = { project .. "/a.tv", project .. "/b.tv", project .. "/lib/c.tv", other .. "/d.tv", project .. "/e.tv" }
  for _, file in ipairs(files) do vim.fn.writefile({ "1 2 +", ":square dup * ;" }, file) end
  local buffers, ids = {}, {}
  local function client_of(i)
    vim.wait(5000, function() return next(vim.lsp.buf_get_clients(buffers[i])) ~= nil end, 50)
    ids[i] = next(vim.lsp.buf_get_clients(buffers[i]))
    return ids[i]
  end
  for i = 1, 4 do
    vim.cmd("edit " .. vim.fn.fnameescape(files[i]))
    buffers[i] = vim.api.nvim_get_current_buf()
  end
  for i = 1, 4 do check("file " .. i .. " has a server", client_of(i) ~= nil) end
  check("one server for the project's files", ids[1] == ids[2] and ids[1] == ids[3], ids)
  check("another for the other folder", ids[4] ~= nil and ids[4] ~= ids[1], ids)
  check("two processes", servers() == 2, servers())
  check("the project's root is the folder with .git",
    (vim.lsp.get_client_by_id(ids[1]) or { config = {} }).config.root_dir == project)
  check("the other's root is its folder", (vim.lsp.get_client_by_id(ids[4]) or { config = {} }).config.root_dir == other)
  for i = 1, 4 do
    check("file " .. i .. " shows its effect", wait_for_effects(buffers[i], { [1] = "( a -- b )" }), effects_of(buffers[i]))
  end

  -- A server that ended takes its effects with it, and the next file of
  -- its root starts another.
  vim.loop.kill(vim.lsp.get_client_by_id(ids[1]).rpc.pid, "sigterm")
  vim.wait(5000, function() return servers() == 1 end, 50)
  check("the project's server ended", servers() == 1, servers())
  check("its effects went with it", wait_for_effects(buffers[2], {}), effects_of(buffers[2]))
  buffers[5], ids[5] = open(files[5])
  check("a new server for the project", ids[5] ~= nil and ids[5] ~= ids[1] and ids[5] ~= ids[4], ids)
  check("two processes again", servers() == 2, servers())

  vim.lsp.stop_client(vim.lsp.get_active_clients())
  vim.wait(5000, function() return servers() == 0 end, 50)
  vim.fn.delete(top, "rf")
end

-- Quick fixes, highlights and folds, in a file of their own: a misspelt
-- word is offered the word it was meant to be.
-- Omni-completion (<C-x><C-o>) as a user types it: the item replaces what
-- is typed of the token, sigil and all.
local function omni()
  -- A folder of its own, so a server of its own: the one of the fixes' folder has been stopped.
  local folder = vim.fn.tempname()
  vim.fn.mkdir(folder, "p")
  local file = folder .. "/omni.tv"
  vim.fn.writefile({ "0 =count", "" }, file)
  vim.cmd("edit " .. vim.fn.fnameescape(file))
  local buffer = vim.api.nvim_get_current_buf()
  vim.wait(5000, function()
    local client = vim.lsp.buf_get_clients(buffer)[next(vim.lsp.buf_get_clients(buffer)) or 0]
    return client ~= nil and client.initialized
  end, 50)
  local function complete(typed)
    vim.api.nvim_buf_set_lines(buffer, 1, 2, false, { typed })
    vim.wait(300)
    vim.api.nvim_win_set_cursor(0, { 2, #typed })
    local deadline = vim.loop.now() + 3000
    local function leave()
      if vim.api.nvim_buf_get_lines(buffer, 1, 2, false)[1] == typed and vim.loop.now() < deadline then
        vim.defer_fn(leave, 50)
      else
        vim.api.nvim_feedkeys(vim.api.nvim_replace_termcodes("<C-y><Esc>", true, false, true), "n", false)
      end
    end
    vim.defer_fn(leave, 50)
    vim.api.nvim_feedkeys(vim.api.nvim_replace_termcodes("A<C-x><C-o>", true, false, true), "x!", false)
    return vim.api.nvim_buf_get_lines(buffer, 1, 2, false)[1]
  end
  local variable = complete("4 $c")
  check("$c completes to $count", variable == "4 $count", variable)
  local word = complete("1 2 3 -r")
  check("-r completes to -rot", word == "1 2 3 -rot", word)
  vim.cmd("bwipeout!")
  vim.fn.delete(folder, "rf")
end

local function fixes()
  local file = vim.fn.tempname() .. ".tv"
  vim.fn.writefile({ "\\ Squares", "\\ a number.", ":square", "  dup * ;", "3 square . cr", "4 sqaure . cr" }, file)
  local buffer, client = open(file)
  local errors = { severity = vim.diagnostic.severity.ERROR }
  vim.wait(5000, function() return #vim.diagnostic.get(buffer, errors) > 0 end, 50)

  local actions = ask(buffer, client, "textDocument/codeAction", {
    range = { start = { line = 5, character = 3 }, ["end"] = { line = 5, character = 3 } },
    context = { diagnostics = vim.lsp.diagnostic.get_line_diagnostics(buffer, 5) },
  })
  local fix = actions and actions[1]
  check("a code action offers the word meant", fix and fix.title == "did you mean `square`?"
    and fix.kind == "quickfix" and #fix.diagnostics == 1, actions)

  local highlights = ask(buffer, client, "textDocument/documentHighlight", at(4, 3))
  check("highlight shows the definition, written, and the use, read", highlights and #highlights == 2
    and highlights[1].kind == 3 and highlights[1].range.start.line == 2
    and highlights[2].kind == 2 and highlights[2].range.start.line == 4, highlights)

  local folds = ask(buffer, client, "textDocument/foldingRange", {})
  check("the comment and the definition fold", folds and #folds == 2 and folds[1].kind == "comment"
    and folds[1].endLine == 1 and folds[2].startLine == 2 and folds[2].endLine == 3, folds)

  if fix then vim.lsp.util.apply_workspace_edit(fix.edit, "utf-16") end
  check("the fixed buffer reads as it should",
    vim.api.nvim_buf_get_lines(buffer, 5, 6, false)[1] == "4 square . cr", vim.api.nvim_buf_get_lines(buffer, 0, -1, false))
  vim.lsp.stop_client(client)
  vim.fn.delete(file)
end

-- In this order: each stops the servers it started before the next.
for _, checks in ipairs({ { "the file", run }, { "the odd folder", odd_folder }, { "the roots", roots },
  { "the fixes", fixes }, { "omni-completion", omni } }) do
  local ok, problem = pcall(checks[2])
  check("the checks of " .. checks[1] .. " run to their end", ok, problem)
end
vim.cmd(failures == 0 and "qall!" or "cquit! 1")
