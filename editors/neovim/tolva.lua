-- Tolva in Neovim (0.7 or later): colours from the Vim syntax files, and
-- tolva-lsp for diagnostics, hover (K), completion (<C-x><C-o>), go to
-- definition (gd), references (gr) and rename (<leader>rn). Copy this file
-- to ~/.config/nvim/plugin/tolva.lua, and editors/vim/*/tolva.vim into the
-- same folders under ~/.config/nvim.
local function start(args)
  local client = vim.lsp.start_client({
    name = "tolva-lsp",
    cmd = { "tolva-lsp" },
    root_dir = vim.fn.fnamemodify(vim.api.nvim_buf_get_name(args.buf), ":p:h"),
  })
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
