<?xml version="1.0" encoding="utf-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:msxsl="urn:schemas-microsoft-com:xslt" xmlns:user="urn:my-scripts"
    exclude-result-prefixes="msxsl user">
  <xsl:output method="text" encoding="utf-8"/>
  <msxsl:script language="JScript" implements-prefix="user"><![CDATA[
    function money(value) { return value.toFixed(2) + " CZK"; }
    function label(city, id) { return city.toUpperCase() + "-" + id; }
    function isLarge(total, limit) { return total > limit; }
  ]]></msxsl:script>
  <xsl:template match="/">
    <xsl:for-each select="//order">
      <xsl:value-of select="user:label(city, @id)"/>
      <xsl:text>: </xsl:text>
      <xsl:value-of select="user:money(number(total))"/>
      <xsl:if test="user:isLarge(number(total), 20)"> (large)</xsl:if>
      <xsl:text>&#10;</xsl:text>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
