-- Tolva in Neovim (0.7 or later): colours from the Vim syntax files, and
-- tolva-lsp for diagnostics, hover (K), completion (<C-x><C-o>), go to
-- definition (gd), references (gr), rename (<leader>rn) and each word's
-- stack effect at the end of the line that defines it. Copy this file to
-- ~/.config/nvim/plugin/tolva.lua, and editors/vim/*/tolva.vim into the
-- same folders under ~/.config/nvim.
--
-- One server runs for each project, whose root is the nearest folder upwards
-- holding one of root_markers (a Git checkout's .git, a folder or, in a
-- worktree, a file), else the file's own folder. The files of a project
-- share it, so a file reads the words of an included file as its buffer
-- holds them, saved or not.

-- Add a name of your own (".tolva-root") to mark roots outside Git.
local root_markers = { ".git" }
-- Effects are asked for as inlay hints, which Neovim 0.7 cannot show:
-- they become virtual text, highlighted as TolvaEffect.
local show_effects = true

vim.cmd("highlight default link TolvaEffect Comment")
local effects = vim.api.nvim_create_namespace("tolva_effects")
-- Client ids by root folder.
local clients = {}

local function root_of(buffer)
  local name = vim.api.nvim_buf_get_name(buffer)
  if name == "" then return vim.fn.getcwd() end
  local folder = vim.fn.fnamemodify(name, ":p:h")
  local dir = folder
  while true do
    for _, marker in ipairs(root_markers) do
      if vim.loop.fs_stat(dir .. "/" .. marker) then return dir end
    end
    local parent = vim.fn.fnamemodify(dir, ":h")
    if parent == dir then return folder end
    dir = parent
  end
end

local function show_effects_of(client, buffer)
  local tick = vim.api.nvim_buf_get_changedtick(buffer)
  local params = {
    textDocument = { uri = vim.uri_from_bufnr(buffer) },
    range = { start = { line = 0, character = 0 }, ["end"] = { line = vim.api.nvim_buf_line_count(buffer), character = 0 } },
  }
  client.request("textDocument/inlayHint", params, function(err, hints)
    -- Hints of a text changed since would mark the wrong lines; the new
    -- text's diagnostics bring another request.
    if err or not vim.api.nvim_buf_is_loaded(buffer) or vim.api.nvim_buf_get_changedtick(buffer) ~= tick then return end
    local lines = {}
    for _, hint in ipairs(hints or {}) do
      local line = hint.position.line
      lines[line] = (lines[line] and lines[line] .. " " or "") .. hint.label
    end
    vim.api.nvim_buf_clear_namespace(buffer, effects, 0, -1)
    for line, text in pairs(lines) do
      vim.api.nvim_buf_set_extmark(buffer, effects, line, 0, { virt_text = { { text, "TolvaEffect" } } })
    end
  end, buffer)
end

-- The server publishes diagnostics each time it has read a new text, so
-- that is when its effects are asked for again.
local function publish_diagnostics(err, result, ctx, config)
  vim.lsp.handlers["textDocument/publishDiagnostics"](err, result, ctx, config)
  local buffer = vim.uri_to_bufnr(result.uri)
  if vim.lsp.buf_is_attached(buffer, ctx.client_id) then
    show_effects_of(vim.lsp.get_client_by_id(ctx.client_id), buffer)
  end
end

-- A client still initializing counts (vim.lsp.client_is_stopped would say
-- it is stopped); one that ended is forgotten by get_client_by_id, so the
-- next file of its root starts another.
local function client_for(root)
  if clients[root] and vim.lsp.get_client_by_id(clients[root]) then return clients[root] end
  clients[root] = vim.lsp.start_client({
    name = "tolva-lsp",
    cmd = { "tolva-lsp" },
    root_dir = root,
    handlers = show_effects and { ["textDocument/publishDiagnostics"] = publish_diagnostics } or nil,
    on_exit = function(_, _, exited)
      local buffers = vim.lsp.get_buffers_by_client_id(exited)
      vim.schedule(function()
        for _, buffer in ipairs(buffers) do
          if vim.api.nvim_buf_is_valid(buffer) then vim.api.nvim_buf_clear_namespace(buffer, effects, 0, -1) end
        end
      end)
    end,
  })
  return clients[root]
end

local function start(args)
  local client = client_for(root_of(args.buf))
  if not client then return end
  vim.lsp.buf_attach_client(args.buf, client)
  vim.bo[args.buf].omnifunc = "v:lua.vim.lsp.omnifunc"
  local map = function(keys, action) vim.keymap.set("n", keys, action, { buffer = args.buf }) end
  map("K", vim.lsp.buf.hover)
  map("gd", vim.lsp.buf.definition)
  map("gr", vim.lsp.buf.references)
  map("<leader>rn", vim.lsp.buf.rename)
end

vim.api.nvim_create_autocmd({ "BufNewFile", "BufRead" }, { pattern = "*.tv", command = "setfiletype tolva" })
vim.api.nvim_create_autocmd("FileType", { pattern = "tolva", callback = start })
