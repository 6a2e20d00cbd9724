-- Neovim's own client, headless: starts orvane --lsp on the buffer, waits for its diagnostics,
-- applies the first code action at the number on line 4, formats, writes the buffer, and writes
-- what it received to $REPORT.
local orvane = os.getenv('ORVANE')
local out = os.getenv('REPORT')
local lines = {}
local function say(text) table.insert(lines, text) end
local client = vim.lsp.start_client({ name = 'orvane', cmd = { orvane, '--lsp' }, root_dir = vim.fn.getcwd() })
vim.lsp.buf_attach_client(0, client)
vim.wait(10000, function() return #vim.diagnostic.get(0) > 0 end, 20)
for _, d in ipairs(vim.diagnostic.get(0)) do
  say(string.format('diagnostic %d:%d-%d:%d severity %d %s', d.lnum, d.col, d.end_lnum, d.end_col, d.severity, d.message))
end
local params = { textDocument = { uri = vim.uri_from_bufnr(0) },
                 range = { start = { line = 3, character = 12 }, ['end'] = { line = 3, character = 12 } },
                 context = { diagnostics = {} } }
local result = vim.lsp.buf_request_sync(0, 'textDocument/codeAction', params, 5000)
for _, r in pairs(result or {}) do
  for _, action in ipairs(r.result or {}) do
    say('action ' .. action.title)
  end
  local first = (r.result or {})[1]
  if first and first.edit then vim.lsp.util.apply_workspace_edit(first.edit, 'utf-16') end
end
local formatted = vim.lsp.buf_request_sync(0, 'textDocument/formatting',
  { textDocument = { uri = vim.uri_from_bufnr(0) }, options = { tabSize = 2, insertSpaces = true } }, 5000)
for _, r in pairs(formatted or {}) do
  if r.result then vim.lsp.util.apply_text_edits(r.result, 0, 'utf-16') end
end
vim.cmd('write')
vim.fn.writefile(lines, out)
vim.lsp.stop_client(client)
vim.wait(2000, function() return vim.lsp.get_client_by_id(client) == nil end, 20)
vim.cmd('qall!')
