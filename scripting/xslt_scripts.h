// Script blocks in stylesheets: stylesheets written for the platform XML
// service declare JScript functions in a script element of that service's
// XSLT extension namespace ("urn:schemas-microsoft-com:xslt"), whose
// implements-prefix names the namespace the functions are called in. Each
// such block runs in a JavaScript engine before the transformation, and
// every function it defines at top level becomes an XPath extension
// function in that namespace: strings, numbers and Booleans cross, a
// node-set argument arrives as its string value. A block in any other
// language fails the transformation.
#pragma once

namespace morvex {

// Makes every XSLT transformation of the process run script blocks.
void InstallXsltScriptHost();

}  // namespace morvex
