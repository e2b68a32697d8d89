<?xml version="1.0" encoding="utf-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:param name="city"/>
  <xsl:param name="least"/>
  <xsl:template match="/orders">
    <xsl:value-of select="concat('Orders in ', $city, ' of at least ', $least, ':&#10;')"/>
    <xsl:for-each select="order[@city = $city and @total &gt;= $least]">
      <xsl:value-of select="concat(@id, ' ', @total, '&#10;')"/>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
