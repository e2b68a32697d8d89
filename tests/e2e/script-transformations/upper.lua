-- Upper-cases the source into the destination, one line at a time.
local out = {}
for line in MORVEX.Source.Text:gmatch("[^\n]+") do
  out[#out + 1] = line:upper()
end
MORVEX.Destination.Text = table.concat(out, ",")
