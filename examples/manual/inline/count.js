// Counts the lines of the source text.
var lines = MORVEX.Source.Text.split("\n").length - 1;
MORVEX.Destination.Text = "lines: " + lines + "\n";
