<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="utf-8"/>
  <xsl:param name="city"/>
  <xsl:template match="/morvex_data">
    <html>
      <body>
        <h1>Orders in <xsl:value-of select="$city"/></h1>
        <xsl:for-each select="orders/r">
          <h2>Order <xsl:value-of select="id"/> of <xsl:value-of select="ordered"/>:
            <xsl:value-of select="customer"/>, total <xsl:value-of select="total"/></h2>
          <ul>
            <xsl:for-each select="items/r">
              <li><xsl:value-of select="concat(qty, ' x ', product, ' at ', price)"/></li>
            </xsl:for-each>
          </ul>
        </xsl:for-each>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
