-- A real editor against ketch lsp: Neovim 0.7 (Debian 12) headless opens the
-- file given, starts the server on it, and prints the diagnostics it
-- received, a hover and a completion, then quits (status 1 when any is
-- missing).
--   KETCH=build/bin/ketch nvim --headless -u NONE -c 'luafile tools/nvim-lsp-check.lua' FILE
--   (HOVER_LINE / COMPLETE_LINE: 0-based lines to ask about; default 0 and 1)
local ketch = os.getenv("KETCH") or "ketch"
local buf = vim.api.nvim_get_current_buf()
local got = nil
local function out(s) io.stdout:write(s .. "\n") end

local id = vim.lsp.start_client({
  name = "ketch",
  cmd = { ketch, "lsp" },
  root_dir = vim.fn.getcwd(),
  handlers = {
    ["textDocument/publishDiagnostics"] = function(_, result)
      if result and #result.diagnostics > 0 then got = result end
    end,
  },
})
if not id then out("ketch lsp did not start"); vim.cmd("cquit 1") end
vim.lsp.buf_attach_client(buf, id)
vim.wait(10000, function() return got ~= nil end, 20)
local status = 0
if not got then out("no diagnostics"); status = 1 else
  for _, d in ipairs(got.diagnostics) do
    out(string.format("%d:%d-%d: %s", d.range.start.line, d.range.start.character, d.range["end"].character, d.message))
  end
end

local client = vim.lsp.get_client_by_id(id)
local uri = vim.uri_from_bufnr(buf)
local hover = client.request_sync("textDocument/hover", { textDocument = { uri = uri },
  position = { line = tonumber(os.getenv("HOVER_LINE") or "0"), character = 1 } }, 5000, buf)
if hover and hover.result then out("hover: " .. hover.result.contents.value:gsub("\n.*", "")) else
  out("no hover"); status = 1 end
local line = tonumber(os.getenv("COMPLETE_LINE") or "1")
local completion = client.request_sync("textDocument/completion", { textDocument = { uri = uri },
  position = { line = line, character = 0 } }, 5000, buf)
if completion and completion.result and #completion.result > 0 then
  local labels = {}
  for i, item in ipairs(completion.result) do if i <= 5 then labels[#labels + 1] = item.label end end
  out("completion: " .. table.concat(labels, ", ") .. " (" .. #completion.result .. " in all)")
else out("no completion"); status = 1 end
client.stop()
vim.wait(2000, function() return client.is_stopped() end, 20)
vim.cmd((status == 0 and "qall!" or "cquit 1"))
