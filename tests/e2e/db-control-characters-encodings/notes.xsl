<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="utf-8"/>
  <xsl:template match="/">
    <xsl:for-each select="morvex_data/notes/r">
      <xsl:value-of select="concat(id, ' ', author, ' ', body, '&#10;')"/>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
