// Refuses empty input.
var text = MORVEX.Source.Text;
if (text.length < 10) throw new Error("input too short: " + text.length);
MORVEX.Destination.Text = text;
