<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>
  <xsl:param name="city" select="'(none)'"/>
  <xsl:template match="/">
    <xsl:text>Orders for </xsl:text><xsl:value-of select="$city"/><xsl:text>&#10;</xsl:text>
    <xsl:for-each select="orders/order[city = $city]">
      <xsl:value-of select="@id"/><xsl:text>: </xsl:text><xsl:value-of select="total"/><xsl:text>&#10;</xsl:text>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
