<?xml version="1.0" encoding="UTF-8"?>
<!-- An HTML table of the orders of one city; the city comes from the
     project parameter "city". -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="yes"/>
  <xsl:param name="city" select="'Prague'"/>
  <xsl:template match="/">
    <html>
      <head><title>Orders from <xsl:value-of select="$city"/></title></head>
      <body>
        <h1>Orders from <xsl:value-of select="$city"/></h1>
        <table>
          <tr><th>Order</th><th>Date</th><th>Customer</th><th>Total</th></tr>
          <xsl:for-each select="orders/order[city = $city]">
            <tr>
              <td><xsl:value-of select="@id"/></td>
              <td><xsl:value-of select="@date"/></td>
              <td><xsl:value-of select="customer"/></td>
              <td><xsl:value-of select="format-number(total, '0.00')"/></td>
            </tr>
          </xsl:for-each>
        </table>
        <p>Sum: <xsl:value-of select="format-number(sum(orders/order[city = $city]/total), '0.00')"/></p>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
