-- Turns a page of docs/ into the page the Windows zip carries (scripts/package runs pandoc
-- with it). The Markdown stays the one source for every reader, so what a Windows user must
-- not be told (building from source, Wine, a Linux machine) is marked in it rather than kept
-- in a second copy: a passage between <!-- linux --> and <!-- /linux -->, whole blocks or
-- words within a sentence, is left out here and shows as usual everywhere else. Links to
-- the other Markdown pages point to their HTML beside this one.

local function marker(element)
  if (element.t == 'RawBlock' or element.t == 'RawInline') and element.format == 'html' then
    return element.text:match('^%s*<!%-%-%s*(/?linux)%s*%-%->%s*$')
  end
  return nil
end

local function without_linux_passages(elements)
  local kept = pandoc.List()
  local inside = false
  for _, element in ipairs(elements) do
    local mark = marker(element)
    if mark == 'linux' then
      if inside then
        error('a <!-- linux --> passage opens inside another one')
      end
      inside = true
    elseif mark == '/linux' then
      if not inside then
        error('<!-- /linux --> closes no passage')
      end
      inside = false
    elseif not inside then
      kept:insert(element)
    end
  end
  if inside then
    error('a <!-- linux --> passage is not closed with <!-- /linux --> in the same paragraph, ' ..
      'list item or table cell')
  end
  return kept
end

-- A list item that held only a Linux passage goes with it.
local function without_empty_items(list)
  list.content = list.content:filter(function(item)
    return item:find_if(function(block)
      return not ((block.t == 'Para' or block.t == 'Plain') and #block.content == 0)
    end) ~= nil
  end)
  return list
end

local function html_target(link)
  link.target = link.target:gsub('^([^:#]+)%.md(#?)', '%1.html%2')
  return link
end

return {
  { Blocks = without_linux_passages, Inlines = without_linux_passages },
  { BulletList = without_empty_items, OrderedList = without_empty_items, Link = html_target },
}
