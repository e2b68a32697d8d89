// Sums the quantity and value of each product from the query's dataset XML
// and writes one line per product, largest value first.
var xml = MORVEX.Source.Text;
var rows = xml.match(/<r>[\s\S]*?<\/r>/g) || [];
var field = function (row, name) {
  var m = new RegExp("<" + name + ">([^<]*)</" + name + ">").exec(row);
  return m ? m[1] : "";
};
var products = {};
rows.forEach(function (row) {
  var name = field(row, "product");
  var p = products[name] || (products[name] = { qty: 0, value: 0 });
  var qty = Number(field(row, "qty"));
  p.qty += qty;
  p.value += qty * Number(field(row, "price"));
});
var names = Object.keys(products).sort(function (a, b) {
  return products[b].value - products[a].value;
});
var d = MORVEX.Transform.Delimiter;
var lines = ["product" + d + "qty" + d + "value"];
names.forEach(function (name) {
  lines.push(name + d + products[name].qty + d + products[name].value.toFixed(2));
});
MORVEX.Destination.Text = lines.join("\r\n") + "\r\n";
