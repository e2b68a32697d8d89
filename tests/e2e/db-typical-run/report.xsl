<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:param name="city"/>
  <xsl:template match="/">
    <xsl:value-of select="concat('Orders in ', $city, '&#10;')"/>
    <xsl:for-each select="morvex_data/orders/r">
      <xsl:value-of select="concat(id, ' ', customer, ' ', total, ' ', ordered, '&#10;')"/>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
