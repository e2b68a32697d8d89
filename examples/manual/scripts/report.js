// Writes one line per customer and a count, using the transform's
// delimiter and the parameter "title".
var lines = MORVEX.Source.Text.split(/\r?\n/).filter(function (line) {
  return line.length > 0;
});
var out = [MORVEX.ParamValues("title")];
for (var i = 1; i < lines.length; i++) {
  var cells = lines[i].split(MORVEX.Transform.Delimiter);
  out.push(cells[0] + ": " + cells[1]);
}
out.push((lines.length - 1) + " customers from " + MORVEX.Source.Kind + " " + MORVEX.Source.Name);
MORVEX.Destination.Text = out.join("\n") + "\n";
