local t = MORVEX.Source.Text
MORVEX.Destination.Text = t:upper() .. MORVEX.Transform.Delimiter
